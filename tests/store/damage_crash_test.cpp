// Damage to every kind of store file, as a disk or a careless hand leaves it: each file zeroed,
// cut short at several points, filled with garbage (and a message header with one wrong byte).
// After the open and one recovery, every message whose text survived is listed again, once, in
// its own folder, no message is invented, what could not be used is in S/Quarantine rather than
// gone, and a second recovery finds nothing to do.
#include <cstring>
#include <random>

#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

class DamageTest : public StoreTest {
 protected:
  struct Mail {
    unsigned long id;
    unsigned long folder;
    std::string text;
  };

  // Eight messages in the inbox, the sent tray and a sub-folder of the inbox; the finished store
  // is kept aside as "good".
  void build() {
    FolderPtr inbox = tray(0);
    unsigned long sub = 0;
    ASSERT_TRUE(inbox->CreateFolder(L"Sub", &sub));
    const unsigned long homes[] = {trays_[0], trays_[0], trays_[2], sub, trays_[0], sub, trays_[2], trays_[0]};
    for (size_t i = 0; i < std::size(homes); ++i) {
      FolderPtr f(storage_->OpenFolder(homes[i]));
      const std::string text = mailText("m" + std::to_string(i), "text of message " + std::to_string(i) + "\r\n");
      mails_.push_back({addMessage(f.get(), text), homes[i], text});
    }
    folders_ = {0, trays_[0], trays_[1], trays_[2], trays_[3], sub};
    inbox.reset();
    saveGood();
  }

  std::vector<Mail> mails_;
  Ids folders_;
};

enum class Harm { Zero, Cut, Garbage, OneByte };

struct Damage {
  std::string file;  // relative to S/
  Harm harm;
  size_t at;         // where Cut cuts, or which byte OneByte changes
};

std::string damaged(const std::string& content, const Damage& d) {
  std::string out = content;
  switch (d.harm) {
    case Harm::Zero:
      std::fill(out.begin(), out.end(), '\0');
      break;
    case Harm::Cut:
      out.resize(std::min(d.at, out.size()));
      break;
    case Harm::Garbage: {
      std::mt19937 random(static_cast<unsigned>(content.size()));
      for (char& c : out) c = static_cast<char>(random());
      break;
    }
    case Harm::OneByte:
      out[d.at] = static_cast<char>(out[d.at] ^ 0x5A);
      break;
  }
  return out;
}

TEST_F(DamageTest, EveryFileKindZeroedCutOrGarbledLosesNoMessageAndInventsNone) {
  build();
  if (HasFatalFailure()) return;
  // Message 0x0000 is S/DATA/00/00.eml, in the inbox (folder 1, S/TREE/01/00.*).
  const std::vector<Damage> damages = {
      {"DATA/00/00.eml", Harm::OneByte, 5},       {"DATA/00/00.eml", Harm::OneByte, 13},
      {"DATA/00/00.eml", Harm::Zero, 0},          {"DATA/00/00.eml", Harm::Garbage, 0},
      {"DATA/00/00.eml", Harm::Cut, 0},           {"DATA/00/00.eml", Harm::Cut, 100},
      {"DATA/00/00.eml", Harm::Cut, 256},         {"DATA/00/00.eml", Harm::Cut, 300},
      {"DATA/Entry.dat", Harm::Zero, 0},          {"DATA/Entry.dat", Harm::Garbage, 0},
      {"DATA/Entry.dat", Harm::Cut, 0},           {"DATA/Entry.dat", Harm::Cut, 6},
      {"DATA/Entry.dat", Harm::Cut, 131072},      {"DATA/Entry.dat", Harm::OneByte, 0},
      {"DATA/Status.txt", Harm::Zero, 0},         {"DATA/Status.txt", Harm::Garbage, 0},
      {"DATA/Status.txt", Harm::Cut, 0},          {"DATA/Status.txt", Harm::Cut, 3},
      {"DATA/Status.txt", Harm::Cut, 5},          {"TREE/Status.txt", Harm::Zero, 0},
      {"TREE/Status.txt", Harm::Garbage, 0},      {"TREE/Status.txt", Harm::Cut, 0},
      {"TREE/Status.txt", Harm::Cut, 5},          {"TREE/00/00.fld", Harm::Zero, 0},
      {"TREE/00/00.fld", Harm::Garbage, 0},       {"TREE/00/00.fld", Harm::Cut, 0},
      {"TREE/00/00.fld", Harm::Cut, 20},          {"TREE/01/00.fld", Harm::Zero, 0},
      {"TREE/01/00.msg", Harm::Zero, 0},          {"TREE/01/00.msg", Harm::Garbage, 0},
      {"TREE/01/00.msg", Harm::Cut, 0},           {"TREE/01/00.msg", Harm::Cut, 15},
      {"TREE/01/00.fdb", Harm::Zero, 0},          {"TREE/01/00.fdb", Harm::Garbage, 0},
      {"TREE/01/00.fdb", Harm::Cut, 0},           {"TREE/01/00.fdb", Harm::Cut, 3999},
      {"TREE/01/00.fdb", Harm::Cut, 4000 + 1180},
  };
  for (const Damage& d : damages) {
    restoreGood();
    const std::string path = root_.host("S/" + d.file);
    const std::string before = readHostFile(path);
    writeHostFile(path, damaged(before, d));
    const std::string what = d.file + " harm " + std::to_string(static_cast<int>(d.harm)) + " at " + std::to_string(d.at);

    // The message file keeps its text when only its header was hit.
    const bool messageHit = d.file == "DATA/00/00.eml";
    const bool textLost = messageHit && (d.harm == Harm::Zero || d.harm == Harm::Garbage ||
                                         (d.harm == Harm::Cut && d.at <= 256));
    storage_.reset(openStorageInterface(L"S"));
    ASSERT_TRUE(storage_) << what << std::hex << " " << GetOxMiddleError();
    OxStorageInterface::RecoveryReport report;
    ASSERT_TRUE(storage_->RecoverStorage(&report)) << what << std::hex << " " << GetOxMiddleError();
    EXPECT_EQ(problems(), "") << what;

    const auto where = listing();
    for (const auto& [id, folders] : where) {
      EXPECT_EQ(folders.size(), 1u) << what << ": message " << id << " listed more than once";
      const bool known = std::any_of(mails_.begin(), mails_.end(), [&](const Mail& m) { return m.id == id; });
      EXPECT_TRUE(known) << what << ": message " << id << " invented";
    }
    for (const Mail& m : mails_) {
      auto it = where.find(m.id);
      if (m.id == 0 && textLost) {
        EXPECT_EQ(it, where.end()) << what << ": a message without its text is listed";
        // An empty file, or one cut to its header, holds nothing to keep.
        const bool nothing = d.harm == Harm::Cut && (d.at == 0 || d.at == 256);
        EXPECT_EQ(has("S/Quarantine/0000.eml"), !nothing) << what << ": kept aside";
        continue;
      }
      ASSERT_NE(it, where.end()) << what << ": message " << m.id << " lost";
      EXPECT_EQ(it->second, Ids{m.folder}) << what << ": message " << m.id;
      MessagePtr msg(storage_->OpenMessage(m.id));
      std::string text;
      ASSERT_TRUE(msg && msg->Read(&text)) << what << ": message " << m.id;
      if (m.id == 0 && d.harm == Harm::Cut) {
        EXPECT_EQ(text, m.text.substr(0, d.at - 256)) << what;
      } else {
        EXPECT_EQ(text, m.text) << what << ": message " << m.id;
      }
    }
    // Every folder is back in the tree, its own messages in it.
    const Ids tree = allFolders(storage_.get());
    for (unsigned long f : folders_) {
      EXPECT_NE(std::find(tree.begin(), tree.end(), f), tree.end()) << what << ": folder " << f << " lost";
    }
    if (messageHit && d.harm == Harm::OneByte) {
      // The header made again from the text, as an import makes it.
      MessagePtr msg(storage_->OpenMessage(0));
      OxMessageInterface::Attributes a;
      a.mask = OxMessageInterface::ATTR_NUMERIC | OxMessageInterface::ATTR_SUBJECT;
      ASSERT_TRUE(msg && msg->GetAttributes(&a)) << what;
      EXPECT_EQ(a.subject, L"m0") << what;
      EXPECT_EQ(a.numericAttribute, 4u) << what;
      EXPECT_EQ(report.repaired, 1u) << what;
    }
    OxStorageInterface::RecoveryReport again;
    ASSERT_TRUE(storage_->RecoverStorage(&again)) << what;
    EXPECT_FALSE(again.changed()) << what << ": a second recovery changed " << again.repaired << " " << again.quarantined
                                  << " " << again.refiled << " " << again.removed << " " << again.rebuilt << " "
                                  << again.folders;
  }
}

TEST_F(DamageTest, AnUndamagedStoreIsReportedConsistentAndOrphansFindTheirFolder) {
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
  const unsigned long stray = 0x0100;
  put("S/DATA/00/01.eml", std::string("OXMAILEMLFMT\x02\x10\0\0", 16) + std::string(240, '\0') + mailText("stray"));
  std::memset(&entry[2 * 4], 0xFF, 4);        // message 2: no list, no word; the sent cache holds it
  std::memcpy(&entry[1 * 4], "\x03\0\0\0", 4);  // message 1: listed by the inbox, owned by sent
  rewrite("S/DATA/Entry.dat", entry);
  ASSERT_TRUE(storage_->RecoverStorage(&(report = {})));
  EXPECT_EQ(report.refiled, 2u);
  EXPECT_EQ(problems(), "");
  const auto where = listing();
  EXPECT_EQ(where.at(2), Ids{trays_[2]});
  EXPECT_EQ(where.at(1), Ids{trays_[0]});
  EXPECT_EQ(where.at(stray), Ids{trays_[0]}) << "the root's first child";
  EXPECT_EQ(file("S/DATA/Status.txt").substr(4), "\t9");
}

TEST_F(DamageTest, ACreatedButNeverWrittenMessageIsRemovedNotListedBlank) {
  FolderPtr inbox = tray(0);
  const unsigned long kept = addMessage(inbox.get(), mailText("kept"));
  unsigned long blank = 0;
  ASSERT_TRUE(inbox->CreateMessage(&blank));
  inbox.reset();
  OxStorageInterface::RecoveryReport report;
  ASSERT_TRUE(storage_->RecoverStorage(&report));
  EXPECT_EQ(report.removed, 1u);
  inbox = tray(0);
  EXPECT_EQ(ids(inbox.get()), Ids{kept});
  EXPECT_TRUE(filesAre({{"S/DATA/01/00.eml", kAbsent}, {"S/DATA/Status.txt", "0002\t1"}}));
}

}  // namespace
}  // namespace oxm
