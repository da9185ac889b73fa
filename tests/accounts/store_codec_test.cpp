// The store's codec members with the library's own codec: composing and stripping.
#include <filesystem>
#include <tuple>

#include "accounts/store_codec.h"
#include "codec/emlcompose.h"
#include "platform/clock.h"
#include "tests/store/store_fixture.h"

namespace oxm::test {
namespace {

class StoreCodecTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    setFixedClock(SYSTEMTIME{2026, 1, 5, 2, 3, 4, 5, 0}, -540);
    std::filesystem::create_directories(root_.host("files"));
    put("files/a.jpg", std::string("\xFF\xD8\xFF\xE0", 4));
    put("files/b.jpg", std::string("\xFF\xD8\xFF\xE1", 4));
  }
  // A new message in the folder from a composed Email with a.jpg, b.jpg as its first pictures.
  unsigned long store(OxFolderInterface* folder, const std::wstring& subject, int pictures,
                      bool pictureMail = false, bool written = true) {
    Email m;
    m.from = L"taro@example.jp";
    m.to = {L"Hanako <hanako@example.jp>", L"jiro@example.jp"};
    m.subject = subject;
    m.body = L"本文\r\n";
    m.pictureMail = pictureMail;
    for (int i = 0; i < pictures; ++i) {
      m.enclosures.emplace_back().name = written ? (i ? L"b.jpg" : L"a.jpg") : L"gone.jpg";
      m.enclosures.back().folder = L"files";
    }
    unsigned long id = 0;
    EXPECT_TRUE(folder->CreateMessage(&id));
    EXPECT_EQ(MessagePtr(storage_->OpenMessage(id))->Write(&m), written) << std::hex << GetOxMiddleError();
    return id;
  }
  Email decoded(unsigned long id) {
    Email back;
    std::string t = text(id);
    EXPECT_TRUE(EmlCompose().Decode(&back, &t));
    return back;
  }
};

TEST(StoreCodecRegistration, TheLibraryRegistersItsCodecWhenItLoads) { EXPECT_EQ(messageCodec(), &storeCodec()); }

TEST_F(StoreCodecTest, WriteEmailStoresTheEncodedMessageAndItsRecords) {
  FolderPtr outbox = tray(1);
  const unsigned long id = store(outbox.get(), L"見積もり", 1);
  EXPECT_NE(text(id).find("Date: Fri, 02 Jan 2026 12:04:05 +0900\r\n"), std::string::npos) << text(id);
  OxMessageInterface::Attributes a;
  a.mask = 0x1FFF;
  ASSERT_TRUE(MessagePtr(storage_->OpenMessage(id))->GetAttributes(&a));
  EXPECT_EQ(std::tie(a.flags[0], a.flags[1], a.numericAttribute, a.text, a.time.wHour, a.date.wHour),
            std::make_tuple(0, 1, 3u, std::string(), 3, 3));
  FolderMsgHeader header{};
  ASSERT_TRUE(outbox->LoadMessageHeader(&header, 1)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(std::u16string(header.toAddress), u"hanako@example.jp");  // the first To, without its name
  const unsigned long broken = store(outbox.get(), L"x", 1, false, false);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(text(broken), "");
}

TEST_F(StoreCodecTest, AttachmentsAreStripped) {
  FolderPtr inbox = tray(0);
  const unsigned long two = store(inbox.get(), L"two", 2), picture = store(inbox.get(), L"picture", 2, true),
                      single = store(inbox.get(), L"single picture", 1, true), none = store(inbox.get(), L"none", 0);
  const std::string singleBefore = text(single);
  std::vector<unsigned long> all{two, picture, single, none}, failed;
  ASSERT_TRUE(inbox->RemoveAttachments(all, &failed)) << std::hex << GetOxMiddleError();
  EXPECT_TRUE(failed.empty());
  // A plain message now, whose copy ends without the body's last line end; a picture mail keeps its first.
  EXPECT_EQ(text(two).find("Content-Type: multipart"), std::string::npos);
  const Email plain = decoded(two), pictureMail = decoded(picture);
  EXPECT_EQ(std::make_pair(plain.enclosures.size(), plain.body), std::make_pair(size_t{0}, std::wstring(L"本文")));
  ASSERT_EQ(pictureMail.enclosures.size(), 1u);
  EXPECT_EQ(pictureMail.enclosures.front().displayName, L"a.jpg");
  EXPECT_EQ(text(single), singleBefore);
  OxMessageInterface::Attributes a;
  a.mask = OxMessageInterface::ATTR_ATTACHMENT;
  ASSERT_TRUE(MessagePtr(storage_->OpenMessage(picture))->GetAttributes(&a));
  EXPECT_EQ(a.flags[1], 0);  // even where a picture stays
}

}  // namespace
}  // namespace oxm::test
