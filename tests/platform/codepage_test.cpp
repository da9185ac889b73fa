#include "platform/codepage.h"

#include <sys/stat.h>

#include <string>

#include "platform/registry.h"
#include "platform/syserr.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

// Converts a whole buffer (no NUL) and returns the wide text; "!" + error on failure.
std::wstring toWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n == 0) return L"!" + std::to_wstring(GetLastError());
  std::wstring out(static_cast<size_t>(n), L'\0');
  int m =
      MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  EXPECT_EQ(m, n);
  return out;
}

std::string toBytes(UINT cp, const std::wstring& text, BOOL* used = nullptr,
                    const char* defaultChar = nullptr, DWORD flags = 0) {
  int len = static_cast<int>(text.size());
  int n = WideCharToMultiByte(cp, flags, text.data(), len, nullptr, 0, defaultChar, used);
  if (n == 0) return "!" + std::to_string(GetLastError());
  std::string out(static_cast<size_t>(n), '\0');
  int m = WideCharToMultiByte(cp, flags, text.data(), len, out.data(), n, defaultChar, used);
  EXPECT_EQ(m, n);
  return out;
}

TEST(CodePageTest, Cp932KnownCharactersBothWays) {
  const std::string nihongo = "\x93\xFA\x96\x7B\x8C\xEA";
  EXPECT_EQ(toWide(CP_ACP, nihongo), L"\u65E5\u672C\u8A9E");
  EXPECT_EQ(toWide(CP_932, nihongo), L"\u65E5\u672C\u8A9E");
  EXPECT_EQ(toBytes(CP_ACP, L"\u65E5\u672C\u8A9E"), nihongo);

  // Half-width katakana, the backslash and tilde stay ASCII, the wave dash of the device.
  EXPECT_EQ(toWide(CP_ACP, "\xB1\x5C\x7E\x81\x60"), L"\uFF71\\~\uFF5E");
  EXPECT_EQ(toBytes(CP_ACP, L"\uFF71\\~\uFF5E"), "\xB1\x5C\x7E\x81\x60");

  // The user-defined area maps onto the private use area.
  EXPECT_EQ(toWide(CP_ACP, "\xF0\x40\xF9\xFC"), L"\uE000\uE757");
  EXPECT_EQ(toBytes(CP_ACP, L"\uE000\uE757"), "\xF0\x40\xF9\xFC");
}

TEST(CodePageTest, Cp932DuplicatesEncodeAsTheDeviceDoes) {
  // Both codes decode to the same character...
  EXPECT_EQ(toWide(CP_ACP, "\x81\xE0\x87\x90"), L"\u2252\u2252");
  EXPECT_EQ(toWide(CP_ACP, "\xED\x40\xFA\x5C"), L"\u7E8A\u7E8A");
  // ...and the reverse picks JIS X 0208, then NEC row 13, then IBM, then NEC-selected IBM.
  EXPECT_EQ(toBytes(CP_ACP, L"\u2252"), "\x81\xE0");
  EXPECT_EQ(toBytes(CP_ACP, L"\uFFE2"), "\x81\xCA");
  EXPECT_EQ(toBytes(CP_ACP, L"\u2160"), "\x87\x54");
  EXPECT_EQ(toBytes(CP_ACP, L"\u3231"), "\x87\x8A");
  EXPECT_EQ(toBytes(CP_ACP, L"\u7E8A"), "\xFA\x5C");
  EXPECT_EQ(toBytes(CP_ACP, L"\u2170"), "\xFA\x40");

  // Every double-byte code round-trips to its character, and every character to a code.
  int pairs = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      char code[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      wchar_t c;
      if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, code, 2, &c, 1) != 1) continue;
      ++pairs;
      char back[2];
      ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, &c, 1, back, 2, nullptr, nullptr), 2) << lead;
      wchar_t again;
      ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, back, 2, &again, 1), 1);
      EXPECT_EQ(again, c) << std::hex << lead << " " << trail;
    }
  }
  EXPECT_GT(pairs, 9000);  // JIS X 0208, NEC and IBM extensions and the user area
}

TEST(CodePageTest, Cp932InvalidBytes) {
  // An unmapped pair (0x85 is a lead byte with nothing in it) is one bad character.
  EXPECT_EQ(toWide(CP_ACP, "a\x85\x40z"), L"a\u30FBz");
  // A lead byte before a byte that cannot trail is bad alone; the CR LF survives.
  EXPECT_EQ(toWide(CP_ACP, "\x81\r\n"), L"\u30FB\r\n");
  // A lone lead byte at the end, and bytes that are never characters.
  EXPECT_EQ(toWide(CP_ACP, "ab\x93"), L"ab\u30FB");
  EXPECT_EQ(toWide(CP_ACP, "\x80\xA0\xFD"), L"\u30FB\u30FB\u30FB");

  EXPECT_EQ(toWide(CP_ACP, "ab\x93", MB_ERR_INVALID_CHARS), L"!1113");
  EXPECT_EQ(toWide(CP_ACP, "\x85\x40", MB_ERR_INVALID_CHARS), L"!1113");
  EXPECT_EQ(toWide(CP_ACP, "\x93\xFA", MB_ERR_INVALID_CHARS), L"\u65E5");
}

TEST(CodePageTest, DefaultCharacterForUnmappableText) {
  BOOL used = 1;
  EXPECT_EQ(toBytes(CP_ACP, L"abc", &used), "abc");
  EXPECT_FALSE(used);
  EXPECT_EQ(toBytes(CP_ACP, L"caf\u00E9", &used), "caf?");
  EXPECT_TRUE(used);
  used = 0;
  EXPECT_EQ(toBytes(CP_ACP, L"\U0001F600!", &used), "?!");  // above U+FFFF
  EXPECT_TRUE(used);
  EXPECT_EQ(toBytes(CP_ACP, L"x\u00E9", &used, "\x81\x45"), "x\x81\x45");  // a given default
  EXPECT_EQ(toBytes(CP_ACP, L"x\u00E9", &used, nullptr, MB_ERR_INVALID_CHARS), "!1113");

  // A surrogate alone has no UTF-8 form.
  used = 0;
  EXPECT_EQ(toBytes(CP_UTF8, std::wstring(L"a") + wchar_t(0xD800) + L"b", &used), "a?b");
  EXPECT_TRUE(used);
  EXPECT_EQ(toBytes(CP_UTF8, std::wstring(1, wchar_t(0x110000)), &used, "*"), "*");
}

TEST(CodePageTest, LengthsSizeQueriesAndBuffers) {
  // -1: the NUL is converted and counted.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "\x93\xFA"
                                "a",
                                -1, nullptr, 0),
            3);
  wchar_t wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "\x93\xFA"
                                "a",
                                -1, wide, 8),
            3);
  EXPECT_EQ(wide[0], L'\u65E5');
  EXPECT_EQ(wide[1], L'a');
  EXPECT_EQ(wide[2], L'\0');
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u65E5a", -1, nullptr, 0, nullptr, nullptr), 4);
  char narrow[8] = "zzzzzzz";
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u65E5a", -1, narrow, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(narrow, 4), std::string("\x93\xFA"
                                                "a\0",
                                                4));

  // Too small: 0 and ERROR_INSUFFICIENT_BUFFER, also when only the second byte is missing.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a\u65E5", 2, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a\u65E5", 2, narrow, 3, nullptr, nullptr), 3);

  // Bad parameters: 0 and ERROR_INVALID_PARAMETER.
  auto error = [](auto call) {
    SetLastError(0);
    return call() == 0 ? GetLastError() : 0xFFFFFFFFu;
  };
  const DWORD kInvalid = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", -2, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, nullptr, 3, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, -1); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(12345, 0, "abc", 3, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0x100, "abc", 3, wide, 8); }), kInvalid);
  EXPECT_EQ(
      error([&] { return WideCharToMultiByte(CP_ACP, 0, L"abc", 0, narrow, 8, nullptr, nullptr); }),
      kInvalid);
  EXPECT_EQ(error([&] {
              return WideCharToMultiByte(CP_ACP, 0, L"a\u00E9", 2, narrow, 8, "12345", nullptr);
            }),
            kInvalid);
}

TEST(CodePageTest, Utf8) {
  EXPECT_EQ(toWide(CP_UTF8, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), L"\u65E5\u672C\u8A9E");
  EXPECT_EQ(toBytes(CP_UTF8, L"\u65E5\u672C\u8A9E"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
  // A four-byte character is one wide character.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, nullptr, 0), 1);
  EXPECT_EQ(toWide(CP_UTF8, "\xF0\x9F\x98\x80"), L"\U0001F600");
  EXPECT_EQ(toBytes(CP_UTF8, L"\U0001F600\u00E9\x7F"), "\xF0\x9F\x98\x80\xC3\xA9\x7F");

  // Each maximal invalid prefix is one U+FFFD.
  EXPECT_EQ(toWide(CP_UTF8, "\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(toWide(CP_UTF8,
                   "\xE6\x97"
                   "A"),
            L"\uFFFDA");                                                        // cut short
  EXPECT_EQ(toWide(CP_UTF8, "\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");            // surrogate
  EXPECT_EQ(toWide(CP_UTF8, "\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
  EXPECT_EQ(toWide(CP_UTF8, "ok\xF0\x9F\x98"), L"ok\uFFFD");                    // truncated at end
  EXPECT_EQ(toWide(CP_UTF8, "\xE6\x97", MB_ERR_INVALID_CHARS), L"!1113");
}

using test::RootTest;

// The active code page is the device's registry value, read once until the hook drops it.
TEST_F(RootTest, ActiveCodePageFromTheRegistry) {
  EXPECT_EQ(GetACP(), 932u) << "no value: the original device's page";
  ASSERT_EQ(::mkdir(root_.host("Registry").c_str(), 0755), 0);
  const struct {
    const char* hive;  // the HKEY_LOCAL_MACHINE file as a user or oxmail init writes it
    UINT expected;
  } cases[] = {
      {"\"ACP\"=\"65001\"", 65001},
      {"\"ACP\"=dword:0000fde9", 65001},
      {"\"ACP\"=\"932\"", 932},
      {"\"ACP\"=\"1252\"", 932},
      {"\"ACP\"=\"65001 \"", 932},
  };
  for (const auto& c : cases) {
    test::writeHostFile(root_.host("Registry/HKEY_LOCAL_MACHINE.reg"),
                        std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n") +
                            c.hive + "\r\n");
    setActiveCodePage(std::nullopt);
    SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(GetACP(), c.expected) << c.hive;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "reading it leaves the last error";
  }
  // Read once: a later change is not seen until the next start (here, the hook).
  test::writeHostFile(root_.host("Registry/HKEY_LOCAL_MACHINE.reg"), "garbage");
  EXPECT_EQ(GetACP(), 932u);
  setActiveCodePage(65001);
  EXPECT_EQ(toWide(CP_ACP, "\xC3\xA9\x82\xA0"), L"\u00E9\uFFFD\uFFFD") << "CP_ACP is now UTF-8";
  EXPECT_EQ(toBytes(CP_ACP, L"\u00E9\U0001F385"), "\xC3\xA9\xF0\x9F\x8E\x85");
  EXPECT_EQ(toWide(CP_932, "\x82\xA0"), L"\u3042") << "932 by number stays Shift_JIS";
  setActiveCodePage(std::nullopt);
  EXPECT_EQ(GetACP(), 932u) << "an unparsable hive";
}

TEST(CodePageTest, Utf8SurrogatePairsAndOtherPages) {
  // UTF-16 held one unit per wchar_t: a pair is one character, a lone half the default.
  const std::wstring pair = {wchar_t(0xD83C), wchar_t(0xDF85)};
  EXPECT_EQ(toBytes(CP_UTF8, pair + L"!"), "\xF0\x9F\x8E\x85!");
  EXPECT_EQ(toBytes(CP_UTF8, std::wstring{wchar_t(0xDF85), wchar_t(0xD83C)}), "??") << "wrong order: two halves";
  EXPECT_EQ(toBytes(CP_UTF8, std::wstring{wchar_t(0xD83C)} + L"x"), "?x");
  EXPECT_EQ(toBytes(CP_UTF8, std::wstring{wchar_t(0xD83C)}, nullptr, nullptr, MB_ERR_INVALID_CHARS), "!1113");

  const struct {
    UINT cp;
    const char* bytes;
    const wchar_t* text;
  } cases[] = {
      {28591, "hei\xDF\xE9", L"hei\u00DF\u00E9"},
      {28605, "\xA4", L"\u20AC"},
      {1252, "\x80\xA2", L"\u20AC\u00A2"},
      {1252, "a\x81" "b", L"a\uFFFDb"},  // undefined in windows-1252: one character replaced
      {20866, "\xE1\xC1", L"\u0410\u0430"},
      {936, "\xD6\xD0", L"\u4E2D"},
      {950, "\xA4\xA4", L"\u4E2D"},
      {51949, "\xB0\xA1", L"\uAC00"},
      {51949, "\xB0", L"\uFFFD"},  // cut off at the end
  };
  for (const auto& c : cases) EXPECT_EQ(toWide(c.cp, c.bytes), c.text) << c.cp << " " << c.bytes;
  EXPECT_EQ(toWide(1252, "a\x81", MB_ERR_INVALID_CHARS), L"!1113");
  EXPECT_EQ(toBytes(28591, L"x"), "!87") << "those pages are read only";
}

}  // namespace
}  // namespace oxm
