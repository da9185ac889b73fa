// Importing message files and exporting messages: names taken, cancel, codes, failures.
#include <filesystem>

#include "platform/clock.h"
#include "store/message_exporter.h"
#include "store/message_importer.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

// Records the notifications in one line: "begin 2, 1, 2, end 0".
struct Recorder : OxMessageExporter::Notification, OxMessageImporter::Notification {
  void begin(unsigned long total) override { log += "begin " + std::to_string(total); }
  void progress(unsigned long done) override { log += ", " + std::to_string(done); }
  void end(bool cancelled) override { log += std::string(", end ") + (cancelled ? "1" : "0"); }
  std::string log;
};

const char kReceived[] =
    "From: \"Taro\" <taro@example.jp>\r\nTo: Hanako <hanako@example.jp>, b@example.jp\r\n"
    "Subject: =?iso-2022-jp?b?GyRCRnxLXBsoQg==?=\r\nDate: Sat, 03 Jan 2026 10:20:30 +0900\r\n\r\nbody\r\n";

// Exports under out/.
class ImportExportTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    setFixedClock(SYSTEMTIME{2026, 1, 5, 2, 3, 4, 5, 0}, -540);
    std::filesystem::create_directories(root_.host("out"));
    inbox_ = tray(0);
  }
  std::wstring input(const std::string& name, const std::string& bytes) {
    put(name, bytes);
    return std::wstring(name.begin(), name.end());
  }
  // Imports the files into the inbox; the code when it fails.
  unsigned import(const std::vector<std::wstring>& paths, Recorder* recorder = nullptr) {
    OxMessageImporter importer;
    EXPECT_TRUE(importer.SetSource(paths) && importer.SetDestination(inbox_.get()));
    if (recorder) { EXPECT_TRUE(importer.RegisterNotification(recorder)); }
    return importer.Fire(nullptr) ? OXMDL_ERR_NONE : static_cast<unsigned>(importer.GetErrorInfo());
  }
};

TEST_F(ImportExportTest, AMessageThatCannotBeCompletedIsRemovedAgain) {
  const std::wstring path = input("a.eml", kReceived);
  ASSERT_EQ(import({path}), OXMDL_ERR_NONE);
  const std::string entryOne = file("S/DATA/Entry.dat");
  const Ids one = ids(inbox_.get());
  // The writes of one import, counted: the message file's header and text, the header record and
  // the record table, then the list and DATA\Status.txt that the batch writes at its end.
  fault::reset();
  ASSERT_EQ(import({path}), OXMDL_ERR_NONE);
  const long writes = fault::calls(fault::Op::Write);
  ASSERT_GT(writes, 5);
  ASSERT_TRUE(inbox_->RemoveMessage(ids(inbox_.get())[1]));
  for (long n : {writes - 5, writes - 4}) {
    fault::reset();
    fault::failNth(fault::Op::Write, static_cast<int>(n), ERROR_DISK_FULL);
    EXPECT_EQ(import({path}), OXMDL_ERR_STG_DISK_FULL) << n;
    EXPECT_EQ(ids(inbox_.get()), one) << n << ": the half-made message is gone";
    EXPECT_TRUE(filesAre({{"S/DATA/Entry.dat", entryOne}})) << n;
  }
  fault::reset();
  EXPECT_EQ(problems(), "");
}

TEST_F(ImportExportTest, ImporterArgumentsAndCancel) {
  struct Canceller : Recorder {
    OxMessageImporter importer;
    void progress(unsigned long done) override {
      Recorder::progress(done);
      importer.Cancel();
    }
  } run;
  OxMessageImporter& importer = run.importer;
  EXPECT_TRUE(failsWith(importer.Fire(), OXMDL_ERR_IMP_NO_SOURCE));
  EXPECT_TRUE(failsWith(importer.SetSource({}), OXMDL_ERR_IMP_SOURCE_EMPTY));
  EXPECT_TRUE(failsWith(importer.SetSource({L"a", L"", L"b"}), OXMDL_ERR_IMP_SOURCE_PATH));
  EXPECT_TRUE(failsWith(importer.Fire(), OXMDL_ERR_IMP_NO_DEST)) << "the path before the empty one was taken";
  EXPECT_TRUE(failsWith(importer.SetDestination(nullptr), OXMDL_ERR_IMP_DEST_NULL));
  EXPECT_TRUE(failsWith(importer.RegisterNotification(nullptr), OXMDL_ERR_IMP_NOTIFY_NULL));
  ASSERT_TRUE(importer.SetSource({input("a.eml", kReceived), input("b.eml", kReceived)}));
  ASSERT_TRUE(importer.SetDestination(inbox_.get()) && importer.RegisterNotification(&run));
  EXPECT_TRUE(failsWith(importer.Fire(), OXMDL_ERR_IMP_CANCEL));
  EXPECT_EQ(run.log, "begin 2, 1, end 1");
  EXPECT_EQ(ids(inbox_.get()).size(), 1u);
  // A bad file stops the batch and is not filed.
  const std::string entry = file("S/DATA/Entry.dat");
  EXPECT_EQ(import({input("nofrom.eml", "To: a@example.jp\r\nDate: Sat, 03 Jan 2026 10:20:30 +0900\r\n\r\nx"),
                    input("good.eml", kReceived)}),
            OXMDL_ERR_IMP_HEADER);
  EXPECT_EQ(import({L"missing.eml"}), OXMDL_ERR_IMP_OPEN);
  EXPECT_EQ(import({input("empty.eml", "")}), OXMDL_ERR_IMP_FILE_EMPTY);
  EXPECT_TRUE(filesAre({{"S/DATA/Entry.dat", entry}}));
}

TEST_F(ImportExportTest, ExportTakesTheNextFreeNamesAndFailsLeavingNothing) {
  const unsigned long a = addMessage(inbox_.get(), "first\r\n");
  const unsigned long b = addMessage(inbox_.get(), "\x82\xa0\r\n");
  put("out/EML00000.eml", "taken");
  put("out/EML00001.eml", "too");
  MessagePtr ma(storage_->OpenMessage(a)), mb(storage_->OpenMessage(b));
  OxMessageExporter exporter;
  Recorder recorder;
  ASSERT_TRUE(exporter.SetSource({ma.get(), mb.get()}) && exporter.SetDestination(L"out") &&
              exporter.RegisterNotification(&recorder));
  ASSERT_TRUE(exporter.Fire()) << std::hex << exporter.GetErrorInfo();
  EXPECT_EQ(recorder.log, "begin 2, 1, 2, end 0");
  // A destination ending in a backslash is kept; each run counts from 0 again, past the names taken.
  ASSERT_TRUE(ma->SeekToHead());
  OxMessageExporter again;
  ASSERT_TRUE(again.SetSource({ma.get()}) && again.SetDestination(L"out\\") && again.Fire());
  EXPECT_TRUE(filesAre({{"out/EML00000.eml", "taken"}, {"out/EML00001.eml", "too"}, {"out/EML00002.eml", "first\r\n"},
                        {"out/EML00003.eml", "\x82\xa0\r\n"}, {"out/EML00004.eml", "first\r\n"},
                        {"out/EML00005.eml", kAbsent}}));
  std::filesystem::create_directories(root_.host("out2"));
  OxMessageExporter bad;
  EXPECT_TRUE(failsWith(bad.Fire(), OXMDL_ERR_EXP_NO_SOURCE));
  EXPECT_TRUE(failsWith(bad.SetSource({}), OXMDL_ERR_EXP_SOURCE_EMPTY));
  EXPECT_TRUE(failsWith(bad.SetSource({ma.get(), nullptr}), OXMDL_ERR_EXP_SOURCE_NULL));
  EXPECT_TRUE(failsWith(bad.Fire(), OXMDL_ERR_EXP_NO_DEST));
  EXPECT_TRUE(failsWith(bad.SetDestination(L""), OXMDL_ERR_EXP_DEST_EMPTY));
  EXPECT_TRUE(failsWith(bad.RegisterNotification(nullptr), OXMDL_ERR_EXP_NOTIFY_NULL));
  ASSERT_TRUE(bad.SetDestination(L"nowhere"));
  EXPECT_TRUE(failsWith(bad.Fire(), OXMDL_ERR_EXP_CREATE));
  ASSERT_TRUE(bad.SetDestination(L"out2"));
  for (const auto& [error, code] : {std::pair{ERROR_DISK_FULL, OXMDL_ERR_EXP_DISK_FULL},
                                    std::pair{ERROR_ACCESS_DENIED, OXMDL_ERR_EXP_WRITE}}) {
    ASSERT_TRUE(ma->SeekToHead());
    fault::reset();
    fault::failNth(fault::Op::Write, 1, error);
    EXPECT_TRUE(failsWith(bad.Fire(), code)) << error;
    EXPECT_FALSE(has("out2/EML00000.eml")) << error;
  }
  fault::reset();
  OxMessageExporter cancelled;
  Recorder cancelSeen;
  ASSERT_TRUE(cancelled.SetSource({ma.get()}) && cancelled.SetDestination(L"out2"));
  ASSERT_TRUE(cancelled.RegisterNotification(&cancelSeen) && cancelled.Cancel());
  EXPECT_TRUE(failsWith(cancelled.Fire(), OXMDL_ERR_EXP_CANCEL));
  EXPECT_EQ(cancelSeen.log, "begin 1, end 1");
  EXPECT_TRUE(std::filesystem::is_empty(root_.host("out2")));
}

}  // namespace
}  // namespace oxm
