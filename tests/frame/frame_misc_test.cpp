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

TEST(TextConvTest, SystemCodePageBothWays) {
  std::string mb = "stale";
  ASSERT_EQ(wideToMulti(L"", &mb), OXMDL_ERR_NONE);
  EXPECT_EQ(mb, "");
  ASSERT_EQ(wideToMulti(L"A\u65e5\u672c\u8a9e\uff71\ue000", &mb), OXMDL_ERR_NONE);
  EXPECT_EQ(mb, "A\x93\xfa\x96\x7b\x8c\xea\xb1\xf0\x40");
  ASSERT_EQ(wideToMulti(L"\u00e9x", &mb), OXMDL_ERR_NONE);
  EXPECT_EQ(mb, "?x") << "no CP932 form: the default character";
  std::wstring w = L"stale";
  ASSERT_EQ(multiToWide("", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"");
  ASSERT_EQ(multiToWide("\x93\xfa\x96\x7b\x5c\x7e\xf9\xfc", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"\u65e5\u672c\\~\ue757");
  ASSERT_EQ(multiToWide("\x81", &w), OXMDL_ERR_NONE);
  EXPECT_EQ(w, L"\u30fb") << "a lone lead byte";
}

TEST(TextConvTest, Utf16FormUsesSurrogatePairs) {
  const std::wstring text = L"a\u3042\U0001F600z";
  const std::u16string units = toUtf16(text);
  EXPECT_EQ(units, (std::u16string{u'a', 0x3042, 0xD83D, 0xDE00, u'z'}));
  EXPECT_EQ(fromUtf16(units), text);
  // A lone surrogate passes through both ways.
  EXPECT_EQ(fromUtf16(std::u16string{0xD800, u'x'}), (std::wstring{wchar_t(0xD800), L'x'}));
}

struct Thing {
  explicit Thing(int* closed) : closed_(closed) {}
  ~Thing() { ++*closed_; }
  int* closed_;
};

TEST(RefCountedSetTest, SharesOneObjectPerKeyAndClosesWithTheLastRelease) {
  RefCountedSet<std::wstring, Thing> set;
  int closed = 0;
  int opens = 0;
  auto open = [&](std::unique_ptr<Thing>* out) {
    ++opens;
    *out = std::make_unique<Thing>(&closed);
    return OXMDL_ERR_NONE;
  };
  Thing* a = nullptr;
  Thing* b = nullptr;
  Thing* c = nullptr;
  ASSERT_EQ(set.acquire(L"S1", open, &a), OXMDL_ERR_NONE);
  ASSERT_EQ(set.acquire(L"S1", open, &b), OXMDL_ERR_NONE);
  ASSERT_EQ(set.acquire(L"S2", open, &c), OXMDL_ERR_NONE);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(set.references(L"S1"), 2);
  EXPECT_TRUE(set.release(a));
  EXPECT_EQ(closed, 0);
  EXPECT_TRUE(set.release(b));
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(set.find(L"S1"), nullptr);
  EXPECT_FALSE(set.release(a)) << "a released object is no longer in the set";
  // A failed open adds nothing and passes its code on.
  Thing* d = nullptr;
  EXPECT_EQ(set.acquire(L"S3", [](std::unique_ptr<Thing>*) { return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY; }, &d),
            OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(set.size(), 1u);
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
