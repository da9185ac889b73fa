#include "platform/codepage.h"

#include <sys/stat.h>

#include <string>

#include "platform/syserr.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

// Converts a whole buffer (no NUL) and returns the wide text; "!" + error on failure.
std::wstring toWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n == 0) return L"!" + std::to_wstring(GetLastError());
  std::wstring out(static_cast<size_t>(n), L'\0');
  EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
  return out;
}

// The same the other way; `used` gets "+" when the default character was used.
std::string toBytes(UINT cp, const std::wstring& text, const char* defaultChar = nullptr, DWORD flags = 0) {
  const int len = static_cast<int>(text.size());
  BOOL used = 0;
  int n = WideCharToMultiByte(cp, flags, text.data(), len, nullptr, 0, defaultChar, &used);
  if (n == 0) return "!" + std::to_string(GetLastError());
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(WideCharToMultiByte(cp, flags, text.data(), len, out.data(), n, defaultChar, &used), n);
  return used ? out + "+" : out;
}

constexpr DWORD kStrict = MB_ERR_INVALID_CHARS;

// Shift_JIS: bad pairs are one character, a lead before a non-trail byte alone; UTF-8: one U+FFFD per maximal prefix.
TEST(CodePageTest, DecodesEachPage) {
  const struct {
    UINT cp;
    const char* bytes;
    DWORD flags;
    const wchar_t* text;
  } cases[] = {
      {CP_ACP, "\x93\xFA\x96\x7B\xB1\x5C\x7E\x81\x60\xF0\x40", 0, L"\u65E5\u672C\uFF71\\~\uFF5E\uE000"},
      {CP_ACP, "a\x85\x40z\x81\r\n\x80\xA0\xFD", 0, L"a\u30FBz\u30FB\r\n\u30FB\u30FB\u30FB"},
      {CP_ACP, "ab\x93", kStrict, L"!1113"},
      {CP_UTF8, "\xE6\x97\xA5\xF0\x9F\x98\x80", 0, L"\u65E5\U0001F600"},  // a four-byte character is one wchar_t
      {CP_UTF8, "\xC0\xAF|\xE6\x97" "A|\xED\xA0\x80|\xF4\x90\x80\x80", 0,
       L"\uFFFD\uFFFD|\uFFFDA|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD"},
      {CP_UTF8, "ok\xF0\x9F\x98", 0, L"ok\uFFFD"},
      {CP_UTF8, "\xE6\x97", kStrict, L"!1113"},
      {51949, "\xB0\xA1\xB0", 0, L"\uAC00\uFFFD"},  // cut off at the end
      {1252, "a\x81", kStrict, L"!1113"},
  };
  for (const auto& c : cases) EXPECT_EQ(toWide(c.cp, c.bytes, c.flags), c.text) << c.cp << " " << c.bytes;
}

// A CP932 duplicate: JIS X 0208, then NEC row 13, IBM, NEC-selected IBM; a UTF-16 pair is one character.
TEST(CodePageTest, EncodesEachPageWithItsDefaultCharacter) {
  const struct {
    UINT cp;
    const wchar_t* text;
    const char* defaultChar;
    DWORD flags;
    const char* bytes;  // "+": the default character was used
  } cases[] = {
      {CP_ACP, L"\u65E5\u672C\u8A9E\uFF71\\~\uFF5E", nullptr, 0, "\x93\xFA\x96\x7B\x8C\xEA\xB1\x5C\x7E\x81\x60"},
      {CP_ACP, L"\u2252\uFFE2\u2160\u7E8A\u2170", nullptr, 0, "\x81\xE0\x81\xCA\x87\x54\xFA\x5C\xFA\x40"},
      {CP_ACP, L"caf\u00E9", nullptr, 0, "caf?+"},
      {CP_ACP, L"\U0001F600!", nullptr, 0, "?!+"},  // above U+FFFF
      {CP_ACP, L"x\u00E9", "\x81\x45", 0, "x\x81\x45+"},
      {CP_ACP, L"x\u00E9", nullptr, kStrict, "!1113"},
      {CP_UTF8, L"\u65E5\U0001F600\u00E9\x7F", nullptr, 0, "\xE6\x97\xA5\xF0\x9F\x98\x80\xC3\xA9\x7F"},
      {CP_UTF8, L"\xD83C\xDF85!", nullptr, 0, "\xF0\x9F\x8E\x85!"},
      {CP_UTF8, L"a\xD800" L"b", nullptr, 0, "a?b+"},
      {CP_UTF8, L"\xD83C", nullptr, kStrict, "!1113"},
      {CP_UTF8, L"\x110000", "*", 0, "*+"},
      {28591, L"x", nullptr, 0, "!87"},  // those pages are read only
  };
  for (const auto& c : cases) EXPECT_EQ(toBytes(c.cp, c.text, c.defaultChar, c.flags), c.bytes) << c.cp << c.bytes;
}

TEST(CodePageTest, LengthsSizeQueriesAndBuffers) {
  wchar_t wide[8];
  char narrow[8] = "zzzzzzz";
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x93\xFA" "a", -1, wide, 8), 3);
  EXPECT_EQ(std::wstring(wide, 3), std::wstring(L"\u65E5a\0", 3));
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u65E5a", -1, narrow, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(narrow, 4), std::string("\x93\xFA" "a\0", 4));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a\u65E5", 2, narrow, 3, nullptr, nullptr), 3);
  auto error = [](auto call) {
    SetLastError(0);
    return call() == 0 ? GetLastError() : 0xFFFFFFFFu;
  };
  const DWORD kSmall = ERROR_INSUFFICIENT_BUFFER, kInvalid = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2); }), kSmall);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_UTF8, 0, "ab\xC3\xA9xyz", 7, wide, 4); }), kSmall);
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\xC3\xA9xyz", 7, wide, 6), 6);  // ASCII runs around a pair
  EXPECT_EQ(std::wstring(wide, 6), L"ab\u00E9xyz");
  EXPECT_EQ(error([&] { return WideCharToMultiByte(CP_ACP, 0, L"a\u65E5", 2, narrow, 2, nullptr, nullptr); }), kSmall);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", -2, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(12345, 0, "abc", 3, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return MultiByteToWideChar(CP_ACP, 0x100, "abc", 3, wide, 8); }), kInvalid);
  EXPECT_EQ(error([&] { return WideCharToMultiByte(CP_ACP, 0, L"a\u00E9", 2, narrow, 8, "12345", nullptr); }),
            kInvalid);
}

// The active code page is the device's registry value, read once until the hook drops it.
using ActiveCodePageTest = test::RootTest;
TEST_F(ActiveCodePageTest, ReadOnceFromTheRegistry) {
  EXPECT_EQ(GetACP(), 932u) << "no value: the original device's page";
  ASSERT_EQ(::mkdir(root_.host("Registry").c_str(), 0755), 0);
  const struct {
    const char* value;  // as a user or oxmail init writes it
    UINT expected;
  } cases[] = {{"\"ACP\"=\"65001 \"", 932}, {"\"ACP\"=\"65001\"", 65001}, {"\"ACP\"=dword:0000fde9", 65001}};
  for (const auto& c : cases) {
    test::writeHostFile(root_.host("Registry/HKEY_LOCAL_MACHINE.reg"),
                        std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n") +
                            c.value + "\r\n");
    setActiveCodePage(std::nullopt);
    SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(GetACP(), c.expected) << c.value;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "reading it leaves the last error";
  }
  test::writeHostFile(root_.host("Registry/HKEY_LOCAL_MACHINE.reg"), "garbage");
  EXPECT_EQ(GetACP(), 65001u);
  EXPECT_EQ(toWide(CP_932, "\x82\xA0"), L"\u3042") << "932 by number stays Shift_JIS";
  setActiveCodePage(std::nullopt);
  EXPECT_EQ(GetACP(), 932u) << "an unparsable hive";
}

}  // namespace
}  // namespace oxm
