// Messages: text, read position, attributes by version, upgrades, times, and no codec.
#include <cstring>

#include "platform/clock.h"
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;
using I = OxMessageInterface;

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

// A message in the inbox (file S/DATA/00/00.eml) and an interface on it.
class MessageTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    inbox_ = tray(0);
    ASSERT_TRUE(inbox_->CreateMessage(&id_));
    message_.reset(storage_->OpenMessage(id_));
  }
  static constexpr const char* kEml = "S/DATA/00/00.eml";
  unsigned long id_ = 0;
};

TEST_F(MessageTest, WriteReadAndTheReadPosition) {
  std::string text = "keep";
  EXPECT_TRUE(message_->Read(&text));
  EXPECT_EQ(text, "keep") << "a new message has no text";
  EXPECT_TRUE(failsWith(message_->Read(nullptr), OXMDL_ERR_STG_INVALID_ARG));
  const std::string before = file(kEml).substr(0, 256);
  ASSERT_TRUE(message_->Write(std::string("Subject: x\r\n\r\nbody\0tail", 23)));
  EXPECT_EQ(file(kEml), before + "Subject: x\r\n\r\nbody") << "the header stays, text ends at NUL";
  ASSERT_TRUE(message_->Read(&(text = "")) && message_->Read(&text));
  EXPECT_EQ(text, "Subject: x\r\n\r\nbody") << "the second read appends nothing";
  ASSERT_TRUE(MessagePtr(storage_->OpenMessage(id_))->Read(&(text = "")));
  EXPECT_EQ(text, "");
  ASSERT_TRUE(message_->SeekToHead());
  put(kEml, before.substr(0, 100));
  EXPECT_TRUE(failsWith(message_->Read(&text), OXMDL_ERR_STG_FILE_FMTILLGL_EML));
  remove(kEml);
  EXPECT_TRUE(failsWith(message_->Read(&text), OXMDL_ERR_STG_NOFILE_EML));
  put(kEml, "junk");
  ASSERT_TRUE(message_->Write("new"));
  EXPECT_EQ(file(kEml), std::string("OXMAILEMLFMT\x02\x10\0\0", 16) + file(kEml).substr(16, 240) + "new");
}

TEST_F(MessageTest, AttributesByVersion) {
  // Older versions lack the numeric (0x1001: the byte) attribute: defaults, the rest filled.
  for (uint32_t version : {0x1000u, 0x1001u}) {
    put(kEml, header(version) + "abc");
    Attr a{.mask = 0x183F, .numericAttribute = 99, .byteAttribute = 99};
    EXPECT_TRUE(failsWith(message_->GetAttributes(&a), OXMDL_ERR_STG_NO_ATTRIBUTE)) << version;
    EXPECT_EQ(describe(a), "unread 1 attachment 2 partial 3 keep 4 time 0000-00-00 00:00:00.000 w0 text 'uidl-1' "
                           "numeric 2 byte 0");
    EXPECT_EQ(std::pair(a.missingMask, a.textSize), std::pair(0x1800u, 3u));
  }
  Attr n{.mask = 0x800};
  EXPECT_TRUE(failsWith(message_->GetAttributes(&n), OXMDL_ERR_STG_NO_ATTRIBUTE));
  EXPECT_EQ(n.missingMask, 0x800u) << "only what was asked";
  put(kEml, header(0x1002));
  Attr all{.mask = 0x1FFF};
  ASSERT_TRUE(message_->GetAttributes(&all));
  EXPECT_EQ(all.missingMask, 0u);
  all.mask = I::ATTR_NUMERIC | I::ATTR_BYTE;
  EXPECT_EQ(describe(all), "numeric 287454020 byte 9");
  for (const std::string& bad : {header(0x1003), "OXMAILEMLFMX" + header(0x1002).substr(12)}) {
    put(kEml, bad);
    Attr a{.mask = 0x01};
    EXPECT_TRUE(failsWith(message_->GetAttributes(&a), OXMDL_ERR_STG_FILE_VERSION_EML));
    EXPECT_TRUE(failsWith(message_->SetAttributes(Attr{.mask = 0x01}), OXMDL_ERR_STG_FILE_FMTILLGL_EML));
  }
  for (const std::string& shortFile : {header(0x1002).substr(0, 255), std::string()}) {
    put(kEml, shortFile);
    EXPECT_TRUE(failsWith(message_->GetAttributes(&all), OXMDL_ERR_STG_FILE_FMTILLGL_EML)) << shortFile.size();
  }
}

TEST_F(MessageTest, SettingAttributesUpgradesAndStoresOnlyWhatChanged) {
  // An older file is upgraded only with both the numeric and the byte attribute; refused: untouched.
  put(kEml, header(0x1001) + "body");
  EXPECT_TRUE(failsWith(message_->SetAttributes(Attr{.mask = 0x01 | 0x800}), OXMDL_ERR_STG_NO_ATTRIBUTE));
  EXPECT_TRUE(failsWith(message_->SetAttributes(Attr{.mask = 0x01 | 0x1000}), OXMDL_ERR_STG_NO_ATTRIBUTE));
  EXPECT_EQ(file(kEml), header(0x1001) + "body");
  Attr a{.mask = 0x01 | 0x20 | 0x800 | 0x1000, .numericAttribute = 7, .byteAttribute = 8};
  a.text = std::string(150, 't');
  ASSERT_TRUE(message_->SetAttributes(a));
  EXPECT_EQ(file(kEml), std::string("OXMAILEMLFMT\x02\x10\0\0\x00\x02\x03\x04", 20) + std::string(16, '\0') +
                            std::string(100, 't') + std::string("\x07\0\0\0\x08", 5) + std::string(115, '\0') + "body")
      << "150 bytes of text keep their first 100";
  ASSERT_TRUE(message_->SetAttributes(Attr{.mask = 0x20, .text = "short"}));
  EXPECT_EQ(file(kEml).substr(36, 100), "short" + std::string(95, '\0'));
  put(kEml, "");
  EXPECT_TRUE(failsWith(message_->SetAttributes(Attr{.mask = 0x01}), OXMDL_ERR_STG_FILE_FMTILLGL_EML));
  a.mask = 0x183F;
  a.time = SYSTEMTIME{2001, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(message_->SetAttributes(a));
  Attr back{.mask = 0x10};
  ASSERT_TRUE(message_->GetAttributes(&back));
  EXPECT_EQ(when(back.time) + " " + std::to_string(back.textSize), "2001-02-04 05:06:07.008 w3 0");
  fault::setFreeSpace(256 + 512000 - 1);
  EXPECT_TRUE(failsWith(message_->SetAttributes(a), OXMDL_ERR_STG_DISK_FULL));
  fault::setFreeSpace(256 + 512000);
  EXPECT_TRUE(message_->SetAttributes(a));
  fault::setFreeSpace(8192 + 512000);
  EXPECT_TRUE(failsWith(message_->Write("x"), OXMDL_ERR_STG_DISK_FULL));
  fault::setFreeSpace(8192 + 512001);
  EXPECT_TRUE(message_->Write("x"));
}

TEST_F(MessageTest, TimeConversionsAndNoCodec) {
  setFixedClock(SYSTEMTIME{2024, 1, 1, 1, 0, 0, 0, 0}, -540);
  const SYSTEMTIME local{2024, 3, 5, 1, 8, 30, 15, 250};
  const SYSTEMTIME utc = I::LocalTimeToSystemTime(local);
  EXPECT_EQ(when(utc), "2024-02-29 23:30:15.250 w4");
  EXPECT_EQ(when(I::SystemTimeToLocalTime(utc)), when(local));
  EXPECT_EQ(I::SystemTimeToLocalTime(SYSTEMTIME{}).wYear, 0) << "no date stays no date";
  // Without a codec a recovery does nothing (its happy paths: tests/accounts).
  registerMessageCodec(nullptr);
  EXPECT_TRUE(failsWith(storage_->RecoverMessageEntryAll(), OXMDL_ERR_MEM_SHORTAGE));
  EXPECT_EQ(file("S/TREE/01/00.msg"), "0000\t0\t0\r\n") << "nothing rewritten without the codec";
}

}  // namespace
}  // namespace oxm
