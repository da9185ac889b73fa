// Text conversion, the reference-counted set and the diagnostic line.
#include <memory>

#include "frame/diag.h"
#include "frame/oxerror.h"
#include "frame/refset.h"
#include "frame/textconv.h"
#include "platform/debug.h"
#include "tests/support/testroot.h"

namespace oxm {
namespace {

TEST(TextConvTest, SystemCodePageAndUtf16BothWays) {
  std::string mb = "stale";
  std::wstring w = L"stale";
  ASSERT_EQ(wideToMulti(L"", &mb) | multiToWide("", &w), OXMDL_ERR_NONE);
  EXPECT_TRUE(mb.empty() && w.empty());
  ASSERT_EQ(wideToMulti(L"A\u65e5\u00e9", &mb) | multiToWide("\x93\xfa\x5c", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(mb, "A\x93\xfa?") << "no CP932 form: the default character";
  EXPECT_EQ(w, L"\u65e5\\");
  // A pair for a character above U+FFFF; a lone surrogate passes through both ways.
  EXPECT_EQ(toUtf16(L"a\U0001F600"), (std::u16string{u'a', 0xD83D, 0xDE00}));
  EXPECT_EQ(fromUtf16({u'a', 0xD83D, 0xDE00, 0xD800, u'x'}),
            (std::wstring{L'a', wchar_t(0x1F600), wchar_t(0xD800), L'x'}));
  EXPECT_EQ(toUtf16(std::wstring{wchar_t(0xD800)}), std::u16string{0xD800});
}

struct Thing {
  ~Thing() { ++*closed; }
  int* closed;
};

TEST(RefCountedSetTest, SharesOneObjectPerKeyAndClosesWithTheLastRelease) {
  RefCountedSet<std::wstring, Thing> set;
  int closed = 0, opens = 0;
  auto open = [&](std::unique_ptr<Thing>* out) {
    ++opens;
    out->reset(new Thing{&closed});
    return OXMDL_ERR_NONE;
  };
  Thing *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
  ASSERT_EQ(set.acquire(L"S1", open, &a) | set.acquire(L"S1", open, &b) | set.acquire(L"S2", open, &c), OXMDL_ERR_NONE);
  EXPECT_TRUE(a == b && a != c && opens == 2 && set.references(L"S1") == 2);
  EXPECT_TRUE(set.release(a) && closed == 0);
  EXPECT_TRUE(set.release(b) && closed == 1 && set.find(L"S1") == nullptr);
  EXPECT_FALSE(set.release(a)) << "a released object is no longer in the set";
  // A failed open adds nothing and passes its code on.
  EXPECT_EQ(set.acquire(L"S3", [](std::unique_ptr<Thing>*) { return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY; }, &d),
            OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
  EXPECT_TRUE(d == nullptr && set.size() == 1u);
}

TEST(DiagTest, ErrorLineNamesTheCode) {
  debugCaptureStart();
  debugError(L"OxMessage::Read()", L"wfopen()", OXMDL_ERR_STG_DISK_FULL);
  debugError(L"OxStorage::Open()", L"x()", 0x02FFFFFF);
  EXPECT_EQ(debugCaptured(),
            L"----OxMessage::Read() Error wfopen() OXMDL_ERR_STG_DISK_FULL\r\n"
            L"----OxStorage::Open() Error x() 0x02FFFFFF\r\n");
  debugCaptureStop();
}

}  // namespace
}  // namespace oxm
