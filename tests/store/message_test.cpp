// Messages: text, read position, attributes by version, upgrades, and the codec hook.
#include <cstring>

#include "platform/clock.h"
#include "platform/debug.h"
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
class MessageTest : public StoreTest {};
using Attr = OxMessageInterface::Attributes;

// A message file header of the given version with flags 1 2 3 4 and numeric 0x11223344.
std::string header(uint32_t version) {
  std::string h(256, '\0');
  std::memcpy(&h[0], "OXMAILEMLFMT", 12);
  std::memcpy(&h[12], &version, 4);
  std::memcpy(&h[16], "\x01\x02\x03\x04", 4);
  std::memcpy(&h[36], "uidl-1", 6);
  std::memcpy(&h[136], "\x44\x33\x22\x11\x09", 5);
  return h;
}

TEST_F(MessageTest, WriteReadAndTheReadPosition) {
  FolderPtr inbox = tray(0);
  unsigned long id = 0;
  ASSERT_TRUE(inbox->CreateMessage(&id));
  MessagePtr m(inbox->OpenMessage(id));
  ASSERT_TRUE(m);
  std::string text = "keep";
  EXPECT_TRUE(m->SeekToHead());
  EXPECT_TRUE(m->Read(&text));
  EXPECT_EQ(text, "keep") << "a new message has no text";
  EXPECT_FALSE(m->Read(nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);

  const std::string before = file("S/DATA/00/00.eml").substr(0, 256);
  ASSERT_TRUE(m->Write(std::string("Subject: x\r\n\r\nbody\0tail", 23)));
  EXPECT_EQ(file("S/DATA/00/00.eml"), before + "Subject: x\r\n\r\nbody") << "the header stays, text ends at NUL";
  text.clear();
  ASSERT_TRUE(m->Read(&text));
  EXPECT_EQ(text, "Subject: x\r\n\r\nbody");
  ASSERT_TRUE(m->Read(&text));
  EXPECT_EQ(text, "Subject: x\r\n\r\nbody") << "the second read appends nothing";
  ASSERT_TRUE(m->SeekToHead());
  text.clear();
  ASSERT_TRUE(m->Read(&text));
  EXPECT_EQ(text.size(), 18u);

  // Two interfaces on one message share it (and its read position).
  MessagePtr again(storage_->OpenMessage(id));
  text.clear();
  ASSERT_TRUE(again->Read(&text));
  EXPECT_EQ(text, "");

  // A file cut shorter than the read position or the header is format-illegal.
  ASSERT_TRUE(m->SeekToHead());
  writeHostFile(root_.host("S/DATA/00/00.eml"), before.substr(0, 100));
  debugCaptureStart();
  EXPECT_FALSE(m->Read(&text));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_EML);
  // Missing altogether: the pre-open check's outcome, logged.
  ASSERT_EQ(::unlink(root_.host("S/DATA/00/00.eml").c_str()), 0);
  EXPECT_FALSE(m->Read(&text));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NOFILE_EML);
  EXPECT_NE(debugCaptured().find(L"----OxMessage::Read() Error OXGU_PreOpenFile() ret is [200470d]\r\n"),
            std::wstring::npos);
  debugCaptureStop();
  // Writing to a file too short for a header gives it a new one.
  writeHostFile(root_.host("S/DATA/00/00.eml"), "junk");
  ASSERT_TRUE(m->Write("new"));
  EXPECT_EQ(file("S/DATA/00/00.eml").substr(0, 16), std::string("OXMAILEMLFMT\x02\x10\0\0", 16));
  EXPECT_EQ(file("S/DATA/00/00.eml").substr(256), "new");
}

TEST_F(MessageTest, AttributesByVersion) {
  FolderPtr inbox = tray(0);
  unsigned long id = addMessage(inbox.get(), "text");
  MessagePtr m(storage_->OpenMessage(id));
  for (uint32_t version : {0x1000u, 0x1001u}) {
    writeHostFile(root_.host("S/DATA/00/00.eml"), header(version) + "abc");
    Attr a;
    a.mask = 0x183F;
    a.numericAttribute = 99;
    a.byteAttribute = 99;
    EXPECT_FALSE(m->GetAttributes(&a));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_ATTRIBUTE);
    EXPECT_EQ(a.missingMask, 0x1800u);
    EXPECT_EQ(a.numericAttribute, 2u);
    EXPECT_EQ(a.byteAttribute, 0);
    EXPECT_EQ(a.flags[3], 4) << "the rest is filled";
    EXPECT_EQ(a.text, "uidl-1");
    EXPECT_EQ(a.textSize, 3u);
  }
  // Version 0x1001, only the numeric attribute asked.
  Attr n;
  n.mask = 0x800;
  EXPECT_FALSE(m->GetAttributes(&n));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_ATTRIBUTE);
  EXPECT_EQ(n.numericAttribute, 2u);
  EXPECT_EQ(n.missingMask, 0x800u);

  writeHostFile(root_.host("S/DATA/00/00.eml"), header(0x1002));
  Attr all;
  all.mask = 0x1FFF;
  ASSERT_TRUE(m->GetAttributes(&all));
  EXPECT_EQ(all.missingMask, 0u);
  EXPECT_EQ(all.numericAttribute, 0x11223344u);
  EXPECT_EQ(all.byteAttribute, 9);
  EXPECT_EQ(all.flags[1], 2);
  EXPECT_EQ(all.textSize, 0u);

  for (const std::string& bad : {header(0x1003), std::string("OXMAILEMLFMX") + header(0x1002).substr(12)}) {
    writeHostFile(root_.host("S/DATA/00/00.eml"), bad);
    Attr a;
    a.mask = 0x01;
    EXPECT_FALSE(m->GetAttributes(&a));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_VERSION_EML);
    a.mask = 0x01;
    EXPECT_FALSE(m->SetAttributes(a));
    EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_EML);
  }
  writeHostFile(root_.host("S/DATA/00/00.eml"), header(0x1002).substr(0, 255));
  Attr a;
  a.mask = 0x01;
  EXPECT_FALSE(m->GetAttributes(&a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_EML);
  EXPECT_FALSE(m->GetAttributes(nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
}

TEST_F(MessageTest, SettingAttributesUpgradesAndStoresOnlyWhatChanged) {
  FolderPtr inbox = tray(0);
  unsigned long id = addMessage(inbox.get(), "text");
  MessagePtr m(storage_->OpenMessage(id));
  writeHostFile(root_.host("S/DATA/00/00.eml"), header(0x1000) + "body");
  Attr a;
  a.mask = 0x01 | 0x800;
  EXPECT_FALSE(m->SetAttributes(a)) << "the 0x1002 step needs the byte attribute";
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_NO_ATTRIBUTE);
  a.mask = 0x01 | 0x1000;
  EXPECT_FALSE(m->SetAttributes(a)) << "the 0x1001 step needs the numeric attribute";
  EXPECT_EQ(file("S/DATA/00/00.eml"), header(0x1000) + "body") << "refused: untouched";
  a.mask = 0x01 | 0x20 | 0x800 | 0x1000;
  a.flags[0] = 0;
  a.numericAttribute = 7;
  a.byteAttribute = 8;
  a.text = std::string(150, 't');
  ASSERT_TRUE(m->SetAttributes(a));
  std::string now = file("S/DATA/00/00.eml");
  EXPECT_EQ(now.substr(12, 8), std::string("\x02\x10\0\0\x00\x02\x03\x04", 8));
  EXPECT_EQ(now.substr(36, 100), std::string(100, 't')) << "150 bytes keep their first 100";
  EXPECT_EQ(now.substr(136, 5), std::string("\x07\0\0\0\x08", 5));
  EXPECT_EQ(now.substr(256), "body");
  a.mask = 0x20;
  a.text = "short";
  ASSERT_TRUE(m->SetAttributes(a));
  EXPECT_EQ(file("S/DATA/00/00.eml").substr(36, 100), "short" + std::string(95, '\0'));

  // An empty file takes a fresh header only when every file field is set.
  writeHostFile(root_.host("S/DATA/00/00.eml"), "");
  a.mask = 0x01;
  EXPECT_FALSE(m->SetAttributes(a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_FILE_FMTILLGL_EML);
  a.mask = 0x183F;
  a.time = SYSTEMTIME{2001, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(m->SetAttributes(a));
  EXPECT_EQ(file("S/DATA/00/00.eml").size(), 256u);
  Attr back;
  back.mask = 0x10;
  ASSERT_TRUE(m->GetAttributes(&back));
  EXPECT_EQ(back.time.wYear, 2001);
  EXPECT_EQ(back.time.wMilliseconds, 8);

  // Header-record fields, cut like the cache cuts them.
  Attr h;
  h.mask = 0x7C0;
  h.toAddress = L"to@x";
  h.fromAddress = L"from@x";
  h.fromName = std::wstring(40, L'N');
  h.subject = L"Hi";
  h.date = SYSTEMTIME{2020, 1, 3, 2, 3, 4, 5, 0};
  ASSERT_TRUE(m->SetAttributes(h));
  Attr got;
  got.mask = 0x7C0;
  ASSERT_TRUE(m->GetAttributes(&got));
  EXPECT_EQ(got.toAddress, L"to@x");
  EXPECT_EQ(got.fromName, std::wstring(30, L'N') + L"\u2026");
  EXPECT_EQ(got.subject, L"Hi");
  EXPECT_EQ(got.date.wYear, 2020);

  // Not enough room for a copy of the file plus the reserve.
  fault::setFreeSpace(256 + 512000 - 1);
  EXPECT_FALSE(m->SetAttributes(a));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  fault::setFreeSpace(256 + 512000);
  EXPECT_TRUE(m->SetAttributes(a));
  // Writing needs the text rounded up to 8 KB plus the reserve, and more.
  fault::setFreeSpace(8192 + 512000);
  EXPECT_FALSE(m->Write("x"));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_DISK_FULL);
  fault::setFreeSpace(8192 + 512001);
  EXPECT_TRUE(m->Write("x"));
}

TEST_F(MessageTest, TimeConversionsUseTheCurrentDifference) {
  setFixedClock(SYSTEMTIME{2024, 1, 1, 1, 0, 0, 0, 0}, -540);
  SYSTEMTIME local{2024, 3, 5, 1, 8, 30, 15, 250};
  SYSTEMTIME utc = OxMessageInterface::LocalTimeToSystemTime(local);
  EXPECT_EQ(utc.wDay, 29);
  EXPECT_EQ(utc.wMonth, 2);
  EXPECT_EQ(utc.wHour, 23);
  EXPECT_EQ(utc.wMinute, 30);
  EXPECT_EQ(utc.wMilliseconds, 250);
  EXPECT_EQ(utc.wDayOfWeek, 4);
  SYSTEMTIME round = OxMessageInterface::SystemTimeToLocalTime(utc);
  EXPECT_EQ(std::memcmp(&round, &local, sizeof local), 0);
  SYSTEMTIME zero{};
  SYSTEMTIME same = OxMessageInterface::SystemTimeToLocalTime(zero);
  EXPECT_EQ(same.wYear, 0) << "no date stays no date";
}

TEST_F(MessageTest, WriteEmailNeedsTheCodec) {
  setFixedClock(SYSTEMTIME{2024, 1, 1, 1, 0, 0, 0, 0}, -540);
  FolderPtr inbox = tray(0);
  unsigned long id = 0;
  ASSERT_TRUE(inbox->CreateMessage(&id));
  MessagePtr m(storage_->OpenMessage(id));
  FakeCodec::FakeMail mail{mailText(std::string(35, 'S')), true};
  EXPECT_FALSE(m->Write(static_cast<Email*>(nullptr)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  registerMessageCodec(nullptr);
  EXPECT_FALSE(m->Write(reinterpret_cast<Email*>(&mail)));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_FALSE(storage_->RestoreFolderMessageHeader(trays_[0]));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_FALSE(storage_->RecoverMessageEntryAll());
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(file("S/TREE/01/00.msg"), "0000\t0\t0\r\n") << "nothing rewritten without the codec";

  registerMessageCodec(&codec_);
  ASSERT_TRUE(m->Write(reinterpret_cast<Email*>(&mail)));
  Attr a;
  a.mask = 0x1FFF;
  ASSERT_TRUE(m->GetAttributes(&a));
  EXPECT_EQ(a.flags[1], 1) << "it has enclosures";
  EXPECT_EQ(a.numericAttribute, 3u);
  EXPECT_EQ(a.text, "encoded");
  EXPECT_EQ(a.time.wDay, 5);
  EXPECT_EQ(a.time.wHour, 22) << "07:08:09 local on the 6th is 22:08:09 UTC on the 5th";
  EXPECT_EQ(a.fromAddress, L"sender@example.jp");
  EXPECT_EQ(a.toAddress, L"rcpt@example.jp");
  EXPECT_EQ(a.subject, std::wstring(30, L'S') + L"\u2026");
  EXPECT_EQ(a.date.wHour, 22);
  std::string text;
  ASSERT_TRUE(m->Read(&text));
  EXPECT_EQ(text, mail.text);
}

TEST_F(MessageTest, RemoveAttachmentsSkipsWhatItMayNotStrip) {
  FolderPtr inbox = tray(0);
  unsigned long with = addMessage(inbox.get(), "head\r\n--attachment data");
  unsigned long single = addMessage(inbox.get(), "no parts");
  unsigned long plain = addMessage(inbox.get(), "plain");
  for (unsigned long id : {with, single}) {
    MessagePtr m(storage_->OpenMessage(id));
    Attr a;
    a.mask = OxMessageInterface::ATTR_ATTACHMENT;
    a.flags[1] = 1;
    ASSERT_TRUE(m->SetAttributes(a));
  }
  std::vector<unsigned long> all{with, single, plain};
  std::vector<unsigned long> failed;
  EXPECT_FALSE(inbox->RemoveAttachments(all, nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_INVALID_ARG);
  ASSERT_TRUE(inbox->RemoveAttachments(all, &failed));
  EXPECT_TRUE(failed.empty());
  MessagePtr m(storage_->OpenMessage(with));
  std::string text;
  ASSERT_TRUE(m->Read(&text));
  EXPECT_EQ(text, "head\r\n");
  Attr a;
  a.mask = OxMessageInterface::ATTR_ATTACHMENT;
  ASSERT_TRUE(m->GetAttributes(&a));
  EXPECT_EQ(a.flags[1], 0);
  EXPECT_FALSE(inbox->RemoveAttachments(all, &failed)) << "an open message is refused";
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_STG_MESSAGE_OPEN);
  m.reset();
  registerMessageCodec(nullptr);
  EXPECT_FALSE(inbox->RemoveAttachments(all, &failed));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_MEM_SHORTAGE);
}

}  // namespace
}  // namespace oxm
