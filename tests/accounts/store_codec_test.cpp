// The store's codec members with the library's own codec: compose, header rebuild, stripping.
#include <filesystem>
#include <tuple>

#include "accounts/store_codec.h"
#include "codec/emlcompose.h"
#include "platform/clock.h"
#include "tests/store/store_fixture.h"

namespace oxm::test {
namespace {

using U16 = std::u16string;

class StoreCodecTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    registerMessageCodec(&storeCodec());
    setFixedClock(SYSTEMTIME{2026, 1, 5, 2, 3, 4, 5, 0}, -540);
    std::filesystem::create_directories(root_.host("files"));
    put("files/a.jpg", std::string("\xFF\xD8\xFF\xE0", 4));
    put("files/b.jpg", std::string("\xFF\xD8\xFF\xE1", 4));
  }
  void TearDown() override {
    StoreTest::TearDown();
    registerMessageCodec(&storeCodec());  // as the library registers it
  }
  // A new message in the folder from a composed Email with a.jpg, b.jpg as its first pictures.
  unsigned long store(OxFolderInterface* folder, const std::wstring& subject, int pictures,
                      bool pictureMail = false, bool written = true) {
    Email m;
    m.from = L"taro@example.jp";
    m.fromName = L"太郎";
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
    MessagePtr message(storage_->OpenMessage(id));
    EXPECT_EQ(message && message->Write(&m), written) << std::hex << GetOxMiddleError();
    return id;
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
  // 12:04:05 local is 03:04:05 UTC.
  EXPECT_EQ(std::tie(a.flags[0], a.flags[1], a.numericAttribute, a.text, a.time.wHour, a.date.wHour),
            std::make_tuple(0, 1, 3u, std::string(), 3, 3));
  const unsigned long broken = store(outbox.get(), L"x", 1, false, false);
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MIME_FILE_MISSING);
  EXPECT_EQ(text(broken), "");
}

// oxmail's recover rebuilds lost lists end to end; here the fields a rebuilt header record takes.
TEST_F(StoreCodecTest, HeaderCachesAreRebuiltFromTheMessages) {
  FolderPtr inbox = tray(0);
  const unsigned long composed = store(inbox.get(), L"一通目", 0);
  const unsigned long received = addMessage(inbox.get(),
                                            "From: \"Jiro\" <jiro@example.jp>\r\nTo: me@example.jp\r\n"
                                            "Subject: =?utf-8?B?5LqM6YCa55uu?=\r\n"
                                            "Date: Sat, 03 Jan 2026 10:20:30 +0000\r\n\r\nhi\r\n");
  ASSERT_LT(trays_[0], 0x10u);  // the inbox's files are TREE\0N\00.*
  remove("S/TREE/0" + std::to_string(trays_[0]) + "/00.fdb");
  ASSERT_TRUE(storage_->RestoreFolderMessageHeader(trays_[0])) << std::hex << GetOxMiddleError();
  std::vector<FolderMsgHeader> r(2);
  ASSERT_TRUE(inbox->LoadMessageHeader(r.data(), 2)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(std::make_tuple(r[0].messageId, U16(r[0].toAddress), r[1].messageId),
            std::make_tuple(composed, U16(u"hanako@example.jp"), received));
  // The subject decoded from UTF-8; 10:20:30 UTC is 19:20:30 on the device.
  EXPECT_EQ(std::make_tuple(U16(r[1].subject), U16(r[1].fromAddress), U16(r[1].fromName), r[1].date.wHour),
            std::make_tuple(U16(u"二通目"), U16(u"jiro@example.jp"), U16(u"\"Jiro\""), WORD{19}));
}

TEST_F(StoreCodecTest, AttachmentsAreStripped) {
  FolderPtr inbox = tray(0);
  const unsigned long two = store(inbox.get(), L"two", 2), picture = store(inbox.get(), L"picture", 2, true),
                      single = store(inbox.get(), L"single picture", 1, true), none = store(inbox.get(), L"none", 0);
  const std::string singleBefore = text(single);
  std::vector<unsigned long> all{two, picture, single, none}, failed;
  ASSERT_TRUE(inbox->RemoveAttachments(all, &failed)) << std::hex << GetOxMiddleError();
  EXPECT_TRUE(failed.empty());
  EmlCompose codec;
  Email back;
  std::string t = text(two);
  ASSERT_TRUE(codec.Decode(&back, &t));
  EXPECT_TRUE(back.enclosures.empty());
  EXPECT_EQ(back.body, L"本文") << "the copy ends without a line end, so the body's last one goes";
  EXPECT_EQ(t.find("Content-Type: multipart"), std::string::npos) << "a plain message now";
  t = text(picture);
  ASSERT_TRUE(codec.Decode(&back, &t));
  ASSERT_EQ(back.enclosures.size(), 1u) << "a picture mail keeps its first picture";
  EXPECT_EQ(back.enclosures.front().displayName, L"a.jpg");
  EXPECT_EQ(text(single), singleBefore) << "a picture mail with one picture is skipped";
  for (unsigned long id : {two, picture}) {
    OxMessageInterface::Attributes a;
    a.mask = OxMessageInterface::ATTR_ATTACHMENT;
    ASSERT_TRUE(MessagePtr(storage_->OpenMessage(id))->GetAttributes(&a));
    EXPECT_EQ(a.flags[1], 0) << id;
  }
}

}  // namespace
}  // namespace oxm::test
