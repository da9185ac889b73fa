// Exporting stored messages into EML files and importing message files, with the library's own
// codec registered: names that are taken, notifications, cancel, every argument code, and
// failures that must leave nothing behind.
#include <filesystem>

#include "accounts/store_codec.h"
#include "platform/clock.h"
#include "store/message_exporter.h"
#include "store/message_importer.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using test::FolderPtr;
using test::MessagePtr;

// Records the notifications in one line: "begin 2, 1, 2, end 0".
struct Recorder : OxMessageExporter::Notification, OxMessageImporter::Notification {
  void begin(unsigned long total) override { log += "begin " + std::to_string(total); }
  void progress(unsigned long done) override { log += ", " + std::to_string(done); }
  void end(bool cancelled) override { log += std::string(", end ") + (cancelled ? "1" : "0"); }
  std::string log;
};

const char kReceived[] =
    "From: \"Taro\" <taro@example.jp>\r\n"
    "To: Hanako <hanako@example.jp>, b@example.jp\r\n"
    "Subject: =?iso-2022-jp?b?GyRCRnxLXBsoQg==?=\r\n"
    "Date: Sat, 03 Jan 2026 10:20:30 +0900\r\n"
    "\r\n"
    "body\r\n";

const char kWithAttachment[] =
    "From: jiro@example.jp\r\n"
    "Date: Sun, 04 Jan 2026 08:00:00 +0000\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
    "--b\r\n\r\ntext\r\n"
    "--b\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n"
    "--b--\r\n";

class ImportExportTest : public test::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    registerMessageCodec(&storeCodec());
    setFixedClock(SYSTEMTIME{2026, 1, 5, 2, 3, 4, 5, 0}, -540);
    std::filesystem::create_directories(root_.host("in"));
    std::filesystem::create_directories(root_.host("out"));
  }
  void TearDown() override {
    StoreTest::TearDown();
    registerMessageCodec(&storeCodec());  // as the library registers it
  }
  std::wstring input(const std::string& name, const std::string& bytes) {
    test::writeHostFile(root_.host("in/" + name), bytes);
    return L"in\\" + std::wstring(name.begin(), name.end());
  }
  // Imports the files into `folder`; the code when it fails.
  unsigned import(OxFolderInterface* folder, const std::vector<std::wstring>& paths, Recorder* recorder = nullptr) {
    OxMessageImporter importer;
    EXPECT_TRUE(importer.SetSource(paths));
    EXPECT_TRUE(importer.SetDestination(folder));
    if (recorder) {
      EXPECT_TRUE(importer.RegisterNotification(recorder));
    }
    return importer.Fire(nullptr) ? OXMDL_ERR_NONE : static_cast<unsigned>(importer.GetErrorInfo());
  }
  std::string entryDat() { return file("S/DATA/Entry.dat"); }
};

TEST_F(ImportExportTest, ImportedMessagesCarryTheirAttributes) {
  FolderPtr inbox = tray(0);
  Recorder recorder;
  ASSERT_EQ(import(inbox.get(), {input("a.eml", kReceived), input("b.eml", kWithAttachment)}, &recorder),
            OXMDL_ERR_NONE);
  EXPECT_EQ(recorder.log, "begin 2, 1, 2, end 0");
  const std::vector<unsigned long> list = ids(inbox.get());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(inbox->GetUnreadCount(), 2u);

  MessagePtr m(inbox->OpenMessage(list[0]));
  std::string text;
  ASSERT_TRUE(m->Read(&text));
  EXPECT_EQ(text, kReceived) << "the file's bytes as they were";
  OxMessageInterface::Attributes a;
  a.mask = 0x1FFF;
  ASSERT_TRUE(m->GetAttributes(&a)) << std::hex << GetOxMiddleError();
  EXPECT_EQ(a.flags[0], 1) << "unread";
  EXPECT_EQ(a.flags[1], 0) << "no attachment";
  EXPECT_EQ(a.flags[2], 0);
  EXPECT_EQ(a.flags[3], 0);
  EXPECT_EQ(a.numericAttribute, 4u);
  EXPECT_EQ(a.byteAttribute, 0);
  EXPECT_EQ(a.text, "");
  EXPECT_EQ(a.toAddress, L"hanako@example.jp");
  EXPECT_EQ(a.fromAddress, L"taro@example.jp");
  EXPECT_EQ(a.fromName, L"\"Taro\"");
  EXPECT_EQ(a.subject, L"日本");
  // 10:20:30 at +0900 on a device at +0900, stored in UTC.
  EXPECT_EQ(a.time.wYear, 2026);
  EXPECT_EQ(a.time.wDay, 3);
  EXPECT_EQ(a.time.wHour, 1);
  EXPECT_EQ(a.time.wMinute, 20);
  EXPECT_EQ(a.date.wHour, 1);
  m.reset();
  m.reset(inbox->OpenMessage(list[1]));
  a.mask = OxMessageInterface::ATTR_ATTACHMENT | OxMessageInterface::ATTR_DATE;
  ASSERT_TRUE(m->GetAttributes(&a));
  EXPECT_EQ(a.flags[1], 1) << "an enclosure";
  EXPECT_EQ(a.date.wHour, 8) << "a +0000 date: 17:00 local, 08:00 UTC";
}

TEST_F(ImportExportTest, FilesThatAreNoMessagesStopTheImportAndLeaveNothing) {
  FolderPtr inbox = tray(0);
  const std::string entryBefore = entryDat();
  struct Case {
    std::string name;
    std::string bytes;
    unsigned code;
  } cases[] = {
      {"nofrom.eml", "To: a@example.jp\r\nDate: Sat, 03 Jan 2026 10:20:30 +0900\r\n\r\nbody\r\n", OXMDL_ERR_IMP_HEADER},
      {"empty.eml", "", OXMDL_ERR_IMP_FILE_EMPTY},
      {"binary.bin", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20), OXMDL_ERR_IMP_HEADER},
      {"nul-first.eml", std::string("\0From: a@example.jp\r\n\r\nx", 25), OXMDL_ERR_IMP_HEADER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    EXPECT_EQ(import(inbox.get(), {input(c.name, c.bytes), input("good.eml", kReceived)}, &recorder), c.code);
    EXPECT_EQ(recorder.log, "begin 2, end 0") << "the run stops at the bad file";
    EXPECT_TRUE(ids(inbox.get()).empty());
    EXPECT_EQ(entryDat(), entryBefore);
  }
  EXPECT_EQ(import(inbox.get(), {L"in\\missing.eml"}), OXMDL_ERR_IMP_OPEN);
  // Files imported before the bad one stay.
  EXPECT_EQ(import(inbox.get(), {input("good.eml", kReceived), input("empty.eml", "")}), OXMDL_ERR_IMP_FILE_EMPTY);
  EXPECT_EQ(ids(inbox.get()).size(), 1u);
  // Without a codec nothing can be decoded.
  registerMessageCodec(nullptr);
  EXPECT_EQ(import(inbox.get(), {input("good.eml", kReceived)}), OXMDL_ERR_MEM_SHORTAGE);
  EXPECT_EQ(ids(inbox.get()).size(), 1u);
}

TEST_F(ImportExportTest, AMessageThatCannotBeCompletedIsRemovedAgain) {
  FolderPtr inbox = tray(0);
  const std::wstring path = input("a.eml", kReceived);
  ASSERT_EQ(import(inbox.get(), {path}), OXMDL_ERR_NONE);
  const std::string entryOne = entryDat();
  // The writes of one import, counted; the last one is the message text's.
  fault::reset();
  ASSERT_EQ(import(inbox.get(), {path}), OXMDL_ERR_NONE);
  const long writes = fault::calls(fault::Op::Write);
  ASSERT_GT(writes, 2);
  std::vector<unsigned long> two = ids(inbox.get());
  std::vector<unsigned long> one{two[0]};
  ASSERT_TRUE(inbox->RemoveMessage(two[1]));
  for (long n : {writes, writes - 1}) {
    SCOPED_TRACE(n);
    fault::reset();
    fault::failNth(fault::Op::Write, static_cast<int>(n), ERROR_DISK_FULL);
    EXPECT_EQ(import(inbox.get(), {path}), OXMDL_ERR_STG_DISK_FULL);
    EXPECT_EQ(ids(inbox.get()), one) << "the half-made message is gone";
    EXPECT_EQ(entryDat(), entryOne);
  }
  fault::reset();
  EXPECT_EQ(test::storeProblems(storage_.get(), root_.host("S/DATA/Entry.dat")), "");
}

TEST_F(ImportExportTest, ImporterArgumentsAndCancel) {
  OxMessageImporter importer;
  EXPECT_FALSE(importer.Fire());
  EXPECT_EQ(importer.GetErrorInfo(), OXMDL_ERR_IMP_NO_SOURCE);
  EXPECT_FALSE(importer.SetSource({}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_IMP_SOURCE_EMPTY);
  EXPECT_FALSE(importer.SetSource({L"a", L"", L"b"}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_IMP_SOURCE_PATH);
  EXPECT_FALSE(importer.Fire());
  EXPECT_EQ(importer.GetErrorInfo(), OXMDL_ERR_IMP_NO_DEST) << "the path before the empty one was taken";
  EXPECT_FALSE(importer.SetDestination(nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_IMP_DEST_NULL);
  EXPECT_FALSE(importer.RegisterNotification(nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_IMP_NOTIFY_NULL);

  FolderPtr inbox = tray(0);
  OxMessageImporter cancelled;
  Recorder recorder;
  ASSERT_TRUE(cancelled.SetSource({input("a.eml", kReceived)}));
  ASSERT_TRUE(cancelled.SetDestination(inbox.get()));
  ASSERT_TRUE(cancelled.RegisterNotification(&recorder));
  EXPECT_TRUE(cancelled.Cancel());
  EXPECT_FALSE(cancelled.Fire());
  EXPECT_EQ(cancelled.GetErrorInfo(), OXMDL_ERR_IMP_CANCEL);
  EXPECT_EQ(recorder.log, "begin 1, end 1");
  EXPECT_TRUE(ids(inbox.get()).empty());

  // Cancel from the notification: the run stops before the next file.
  struct CancelAfterFirst : Recorder {
    OxMessageImporter* importer = nullptr;
    void progress(unsigned long done) override {
      Recorder::progress(done);
      importer->Cancel();
    }
  } stopper;
  OxMessageImporter second;
  stopper.importer = &second;
  ASSERT_TRUE(second.SetSource({input("a.eml", kReceived), input("b.eml", kReceived)}));
  ASSERT_TRUE(second.SetDestination(inbox.get()));
  ASSERT_TRUE(second.RegisterNotification(&stopper));
  EXPECT_FALSE(second.Fire());
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_IMP_CANCEL);
  EXPECT_EQ(stopper.log, "begin 2, 1, end 1");
  EXPECT_EQ(ids(inbox.get()).size(), 1u);
}

TEST_F(ImportExportTest, ExportTakesTheNextFreeNames) {
  FolderPtr inbox = tray(0);
  const unsigned long a = addMessage(inbox.get(), "first message\r\n");
  const unsigned long b = addMessage(inbox.get(), std::string("second\r\nwith \x82\xa0 bytes\r\n"));
  test::writeHostFile(root_.host("out/EML00000.eml"), "someone else's");
  test::writeHostFile(root_.host("out/EML00001.eml"), "and another");
  MessagePtr ma(storage_->OpenMessage(a));
  MessagePtr mb(storage_->OpenMessage(b));
  OxMessageExporter exporter;
  Recorder recorder;
  ASSERT_TRUE(exporter.SetSource({ma.get(), mb.get()}));
  ASSERT_TRUE(exporter.SetDestination(L"out"));
  ASSERT_TRUE(exporter.RegisterNotification(&recorder));
  ASSERT_TRUE(exporter.Fire()) << std::hex << exporter.GetErrorInfo();
  EXPECT_EQ(recorder.log, "begin 2, 1, 2, end 0");
  EXPECT_EQ(file("out/EML00000.eml"), "someone else's");
  EXPECT_EQ(file("out/EML00001.eml"), "and another");
  EXPECT_EQ(file("out/EML00002.eml"), "first message\r\n");
  EXPECT_EQ(file("out/EML00003.eml"), "second\r\nwith \x82\xa0 bytes\r\n");
  EXPECT_FALSE(test::hostFileExists(root_.host("out/EML00004.eml")));

  // A destination that ends in a backslash is kept as it is; the counter starts again with
  // each run, past the names now taken. The read position is where the last export left it.
  ASSERT_TRUE(ma->SeekToHead());
  OxMessageExporter again;
  ASSERT_TRUE(again.SetSource({ma.get()}));
  ASSERT_TRUE(again.SetDestination(L"out\\"));
  ASSERT_TRUE(again.Fire());
  EXPECT_EQ(file("out/EML00004.eml"), "first message\r\n");
}

TEST_F(ImportExportTest, ExportFailuresAndArguments) {
  FolderPtr inbox = tray(0);
  const unsigned long a = addMessage(inbox.get(), "text\r\n");
  MessagePtr m(storage_->OpenMessage(a));
  OxMessageExporter exporter;
  EXPECT_FALSE(exporter.Fire());
  EXPECT_EQ(exporter.GetErrorInfo(), OXMDL_ERR_EXP_NO_SOURCE);
  EXPECT_FALSE(exporter.SetSource({}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_EXP_SOURCE_EMPTY);
  EXPECT_FALSE(exporter.SetSource({m.get(), nullptr}));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_EXP_SOURCE_NULL);
  EXPECT_FALSE(exporter.Fire());
  EXPECT_EQ(exporter.GetErrorInfo(), OXMDL_ERR_EXP_NO_DEST);
  EXPECT_FALSE(exporter.SetDestination(L""));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_EXP_DEST_EMPTY);
  EXPECT_FALSE(exporter.RegisterNotification(nullptr));
  EXPECT_EQ(GetOxMiddleError(), OXMDL_ERR_EXP_NOTIFY_NULL);

  // A directory that does not exist.
  ASSERT_TRUE(exporter.SetDestination(L"nowhere"));
  EXPECT_FALSE(exporter.Fire());
  EXPECT_EQ(exporter.GetErrorInfo(), OXMDL_ERR_EXP_CREATE);
  // A write that fails, on a full disk and otherwise: the file goes.
  ASSERT_TRUE(exporter.SetDestination(L"out"));
  for (DWORD error : {ERROR_DISK_FULL, ERROR_ACCESS_DENIED}) {
    ASSERT_TRUE(m->SeekToHead());
    fault::failNth(fault::Op::Write, 1, error);
    EXPECT_FALSE(exporter.Fire());
    EXPECT_EQ(exporter.GetErrorInfo(), error == ERROR_DISK_FULL ? OXMDL_ERR_EXP_DISK_FULL : OXMDL_ERR_EXP_WRITE);
    EXPECT_FALSE(test::hostFileExists(root_.host("out/EML00000.eml")));
    fault::reset();
  }
  // The export file cannot be created on a full disk: the opens of the message's Read are
  // counted first, the one after them is the export file's.
  ASSERT_TRUE(m->SeekToHead());
  {
    std::string text;
    MessagePtr probe(storage_->OpenMessage(a));
    fault::reset();
    ASSERT_TRUE(probe->Read(&text));
  }
  const long readOpens = fault::calls(fault::Op::Open);
  fault::reset();
  fault::failNth(fault::Op::Open, static_cast<int>(readOpens) + 1, ERROR_DISK_FULL);
  EXPECT_FALSE(exporter.Fire());
  EXPECT_EQ(exporter.GetErrorInfo(), OXMDL_ERR_EXP_DISK_FULL);
  fault::reset();

  // Cancel before Fire: begin, no file, end(true).
  OxMessageExporter cancelled;
  Recorder recorder;
  ASSERT_TRUE(cancelled.SetSource({m.get()}));
  ASSERT_TRUE(cancelled.SetDestination(L"out"));
  ASSERT_TRUE(cancelled.RegisterNotification(&recorder));
  ASSERT_TRUE(cancelled.Cancel());
  EXPECT_FALSE(cancelled.Fire());
  EXPECT_EQ(cancelled.GetErrorInfo(), OXMDL_ERR_EXP_CANCEL);
  EXPECT_EQ(recorder.log, "begin 1, end 1");
  EXPECT_TRUE(std::filesystem::is_empty(root_.host("out")));
}

}  // namespace
}  // namespace oxm
