// Damage to every kind of store file: zeroed, cut short, garbled, one header byte wrong. After the
// open and one recovery every message whose text survived is listed once in its own folder, none
// is invented, what could not be used is in S/Quarantine, and a second recovery does nothing.
#include <cstring>
#include <random>

#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

class DamageTest : public StoreTest {
 protected:
  // Eight messages in the inbox, the sent tray and a sub-folder of the inbox, kept aside as "good".
  void build() {
    unsigned long sub = 0;
    ASSERT_TRUE(tray(0)->CreateFolder(L"Sub", &sub));
    for (unsigned long home : {trays_[0], trays_[0], trays_[2], sub, trays_[0], sub, trays_[2], trays_[0]}) {
      const std::string n = std::to_string(mails_.size());
      const std::string text = mailText("m" + n, "text of message " + n + "\r\n");
      mails_[addMessage(FolderPtr(storage_->OpenFolder(home)).get(), text)] = {home, text};
    }
    folders_ = {0, trays_[0], trays_[1], trays_[2], trays_[3], sub};
    saveGood();
  }
  // Each message's folder and text.
  std::map<unsigned long, std::pair<unsigned long, std::string>> mails_;
  Ids folders_;
};

enum class Harm { Zero, Cut, Garbage, OneByte };

TEST_F(DamageTest, EveryFileKindZeroedCutOrGarbledLosesNoMessageAndInventsNone) {
  build();
  if (HasFatalFailure()) return;
  // Message 0x0000 is S/DATA/00/00.eml, in the inbox (folder 1, S/TREE/01/00.*). At: where Cut
  // cuts, or which byte OneByte changes.
  const std::tuple<std::string, Harm, size_t> damages[] = {
      {"DATA/00/00.eml", Harm::OneByte, 5},  {"DATA/00/00.eml", Harm::OneByte, 13}, {"DATA/00/00.eml", Harm::Zero, 0},
      {"DATA/00/00.eml", Harm::Garbage, 0},  {"DATA/00/00.eml", Harm::Cut, 0},      {"DATA/00/00.eml", Harm::Cut, 100},
      {"DATA/00/00.eml", Harm::Cut, 256},    {"DATA/00/00.eml", Harm::Cut, 300},    {"DATA/Entry.dat", Harm::Zero, 0},
      {"DATA/Entry.dat", Harm::Garbage, 0},  {"DATA/Entry.dat", Harm::Cut, 0},      {"DATA/Entry.dat", Harm::Cut, 6},
      {"DATA/Entry.dat", Harm::Cut, 131072}, {"DATA/Entry.dat", Harm::OneByte, 0},  {"DATA/Status.txt", Harm::Zero, 0},
      {"DATA/Status.txt", Harm::Garbage, 0}, {"DATA/Status.txt", Harm::Cut, 0},     {"DATA/Status.txt", Harm::Cut, 3},
      {"DATA/Status.txt", Harm::Cut, 5},     {"TREE/Status.txt", Harm::Zero, 0},    {"TREE/Status.txt", Harm::Garbage, 0},
      {"TREE/Status.txt", Harm::Cut, 0},     {"TREE/Status.txt", Harm::Cut, 5},     {"TREE/00/00.fld", Harm::Zero, 0},
      {"TREE/00/00.fld", Harm::Garbage, 0},  {"TREE/00/00.fld", Harm::Cut, 0},      {"TREE/00/00.fld", Harm::Cut, 20},
      {"TREE/01/00.fld", Harm::Zero, 0},     {"TREE/01/00.msg", Harm::Zero, 0},     {"TREE/01/00.msg", Harm::Garbage, 0},
      {"TREE/01/00.msg", Harm::Cut, 0},      {"TREE/01/00.msg", Harm::Cut, 15},     {"TREE/01/00.fdb", Harm::Zero, 0},
      {"TREE/01/00.fdb", Harm::Garbage, 0},  {"TREE/01/00.fdb", Harm::Cut, 0},      {"TREE/01/00.fdb", Harm::Cut, 3999},
      {"TREE/01/00.fdb", Harm::Cut, 4000 + 1180},
  };
  for (const auto& [name, harm, at] : damages) {
    restoreGood();
    std::string bytes = file("S/" + name);
    std::mt19937 random(static_cast<unsigned>(bytes.size()));
    for (char& c : bytes) c = harm == Harm::Zero ? '\0' : harm == Harm::Garbage ? static_cast<char>(random()) : c;
    if (harm == Harm::Cut) bytes.resize(std::min(at, bytes.size()));
    if (harm == Harm::OneByte) bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
    put("S/" + name, bytes);
    const std::string what = name + " harm " + std::to_string(static_cast<int>(harm)) + " at " + std::to_string(at);

    // The message file keeps its text when only its header was hit.
    const bool messageHit = name == "DATA/00/00.eml";
    const bool textLost = messageHit && (harm == Harm::Zero || harm == Harm::Garbage || (harm == Harm::Cut && at <= 256));
    storage_.reset(openStorageInterface(L"S"));
    ASSERT_TRUE(storage_) << what << std::hex << " " << GetOxMiddleError();
    OxStorageInterface::RecoveryReport report;
    ASSERT_TRUE(storage_->RecoverStorage(&report)) << what << std::hex << " " << GetOxMiddleError();
    EXPECT_EQ(problems(), "") << what;

    const auto where = listing();
    for (const auto& [id, folders] : where) {
      EXPECT_EQ(folders.size(), 1u) << what << ": message " << id << " listed more than once";
      EXPECT_TRUE(mails_.contains(id)) << what << ": message " << id << " invented";
    }
    for (const auto& [id, mail] : mails_) {
      if (id == 0 && textLost) {
        EXPECT_FALSE(where.contains(id)) << what << ": a message without its text is listed";
        // An empty file, or one cut to its header, holds nothing to keep.
        EXPECT_EQ(has("S/Quarantine/0000.eml"), !(harm == Harm::Cut && (at == 0 || at == 256))) << what;
        continue;
      }
      ASSERT_TRUE(where.contains(id)) << what << ": message " << id << " lost";
      EXPECT_EQ(where.at(id), Ids{mail.first}) << what << ": message " << id;
      EXPECT_EQ(text(id), id == 0 && harm == Harm::Cut ? mail.second.substr(0, at - 256) : mail.second) << what;
    }
    const Ids tree = allFolders(storage_.get());
    for (unsigned long f : folders_) EXPECT_TRUE(std::ranges::count(tree, f)) << what << ": folder " << f << " lost";
    if (messageHit && harm == Harm::OneByte) {
      // The header made again from the text, as an import makes it.
      Attr a{.mask = OxMessageInterface::ATTR_NUMERIC | OxMessageInterface::ATTR_SUBJECT};
      ASSERT_TRUE(MessagePtr(storage_->OpenMessage(0))->GetAttributes(&a)) << what;
      EXPECT_EQ(std::tuple(a.subject, a.numericAttribute, report.repaired), std::tuple(L"m0", 4u, 1ul)) << what;
    }
    OxStorageInterface::RecoveryReport again;
    ASSERT_TRUE(storage_->RecoverStorage(&again)) << what;
    EXPECT_FALSE(again.changed()) << what << ": a second recovery changed " << again.repaired << " " << again.quarantined
                                  << " " << again.refiled << " " << again.removed << " " << again.rebuilt << " "
                                  << again.folders;
  }
}

TEST_F(DamageTest, UndamagedIsConsistentOrphansAreRefiledAndBlankMessagesRemoved) {
  build();
  if (HasFatalFailure()) return;
  reopen();
  OxStorageInterface::RecoveryReport report;
  ASSERT_TRUE(storage_->RecoverStorage(&report));
  // The messages were written with their text only: their header records are filled once.
  EXPECT_EQ(report.rebuilt, 3u) << "the three header caches of the folders with messages";
  EXPECT_EQ(report.repaired + report.quarantined + report.refiled + report.removed + report.folders, 0u);
  ASSERT_TRUE(storage_->RecoverStorage(&(report = {})));
  EXPECT_FALSE(report.changed());
  closeAll();

  // A message file that no list and no index names goes back to the folder whose header cache
  // holds it; one that nothing names goes to the inbox; the word of another folder is mended.
  std::string entry = file("S/DATA/Entry.dat");
  const std::string list = file("S/TREE/03/00.msg");
  ASSERT_EQ(list.substr(0, 10), "0002\t0\t0\r\n");
  put("S/TREE/03/00.msg", list.substr(10));
  put("S/DATA/00/01.eml", std::string("OXMAILEMLFMT\x02\x10\0\0", 16) + std::string(240, '\0') + mailText("stray"));
  std::memset(&entry[2 * 4], 0xFF, 4);          // message 2: no list, no word; the sent cache holds it
  std::memcpy(&entry[1 * 4], "\x03\0\0\0", 4);  // message 1: listed by the inbox, owned by sent
  rewrite("S/DATA/Entry.dat", entry);
  ASSERT_TRUE(storage_->RecoverStorage(&(report = {})));
  EXPECT_EQ(report.refiled, 2u);
  EXPECT_EQ(problems(), "");
  const auto where = listing();
  EXPECT_EQ((std::vector{where.at(2), where.at(1), where.at(0x0100)}), (std::vector{Ids{trays_[2]}, Ids{trays_[0]},
                                                                                    Ids{trays_[0]}}))
      << "the stray message 0x0100 goes to the root's first child";
  EXPECT_EQ(file("S/DATA/Status.txt").substr(4), "\t9");

  // A message created but never written is removed, not listed blank.
  unsigned long blank = 0;
  ASSERT_TRUE(tray(0)->CreateMessage(&blank));
  ASSERT_TRUE(storage_->RecoverStorage(&(report = {})));
  EXPECT_EQ(report.removed, 1u);
  EXPECT_EQ(storage_->OpenMessage(blank), nullptr);
  EXPECT_EQ(file("S/DATA/Status.txt").substr(4), "\t9");
}

}  // namespace
}  // namespace oxm
