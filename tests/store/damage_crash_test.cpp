// Damage to every kind of store file: after the open and one recovery every message whose text
// survived is listed once in its own folder, none is invented, and a second recovery does nothing.
#include <cstring>
#include <random>

#include "platform/clock.h"
#include "store/folder.h"
#include "tests/store/store_fixture.h"

namespace oxm {
namespace {

using namespace test;

class DamageTest : public StoreTest {
 protected:
  // Eight messages in the inbox, the sent tray and a sub-folder of the inbox, kept aside as "good".
  void SetUp() override {
    StoreTest::SetUp();
    setFixedClock(SYSTEMTIME{2026, 1, 5, 2, 3, 4, 5, 0}, -540);  // dates a text cut before its Date
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
  std::map<unsigned long, std::pair<unsigned long, std::string>> mails_;
  Ids folders_;
};

TEST_F(DamageTest, EveryFileKindZeroedCutOrGarbledLosesNoMessageAndInventsNone) {
  // Message 0 is DATA/00/00.eml, in folder 1. z zeroed, g garbage, cN cut to N bytes, oN byte N changed.
  const std::pair<std::string, const char*> damages[] = {
      {"DATA/00/00.eml", "o5 o13 z g c0 c100 c256 c300"}, {"DATA/Entry.dat", "z g c0 c6 c131072 o0"},
      {"DATA/Status.txt", "z g c0 c3 c5"},                 {"TREE/Status.txt", "z g c0 c5"},
      {"TREE/00/00.fld", "z g c0 c20"},                    {"TREE/01/00.fld", "z"},
      {"TREE/01/00.msg", "z g c0 c15"},                    {"TREE/01/00.fdb", "z g c0 c3999 c5180"}};
  for (const auto& [name, harms] : damages) {
    std::istringstream list(harms);
    for (std::string harm; list >> harm;) {
      const char kind = harm[0];
      const size_t at = harm.size() > 1 ? std::stoul(harm.substr(1)) : 0;
      const std::string what = name + " " + harm;
      restoreGood();
      std::string bytes = file("S/" + name);
      std::mt19937 random(static_cast<unsigned>(bytes.size()));
      for (char& c : bytes) c = kind == 'z' ? '\0' : kind == 'g' ? static_cast<char>(random()) : c;
      if (kind == 'c') bytes.resize(std::min(at, bytes.size()));
      if (kind == 'o') bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
      put("S/" + name, bytes);
      const bool messageHit = name == "DATA/00/00.eml";
      const bool textLost = messageHit && (kind == 'z' || kind == 'g' || (kind == 'c' && at <= 256));
      storage_.reset(openStorageInterface(L"S"));
      ASSERT_TRUE(storage_) << what << std::hex << " " << GetOxMiddleError();
      OxStorageInterface::RecoveryReport report;
      ASSERT_TRUE(storage_->RecoverStorage(&report)) << what << std::hex << " " << GetOxMiddleError();
      EXPECT_EQ(problems(), "") << what;
      const auto where = listing();
      for (const auto& [id, folders] : where) EXPECT_TRUE(mails_.contains(id)) << what << ": " << id << " invented";
      for (const auto& [id, mail] : mails_) {
        if (id == 0 && textLost) {
          EXPECT_FALSE(where.contains(id)) << what << ": a message without its text is listed";
          EXPECT_EQ(has("S/Quarantine/0000.eml"), !(kind == 'c' && (at == 0 || at == 256))) << what;
          continue;
        }
        EXPECT_EQ(where.contains(id) ? where.at(id) : Ids{}, Ids{mail.first}) << what << ": message " << id;
        EXPECT_EQ(text(id), id == 0 && kind == 'c' ? mail.second.substr(0, at - 256) : mail.second) << what;
      }
      const Ids tree = allFolders(storage_.get());
      for (unsigned long f : folders_) EXPECT_TRUE(std::ranges::count(tree, f)) << what << ": folder " << f << " lost";
      if (messageHit && kind == 'o') {
        Attr a{.mask = OxMessageInterface::ATTR_NUMERIC | OxMessageInterface::ATTR_SUBJECT};
        ASSERT_TRUE(MessagePtr(storage_->OpenMessage(0))->GetAttributes(&a)) << what;
        EXPECT_EQ(std::tuple(a.subject, a.numericAttribute, report.repaired), std::tuple(L"m0", 4u, 1ul)) << what;
      }
      OxStorageInterface::RecoveryReport again;
      ASSERT_TRUE(storage_->RecoverStorage(&again)) << what;
      EXPECT_FALSE(again.changed()) << what << ": a second recovery changed the store";
    }
  }
}

TEST_F(DamageTest, UndamagedIsConsistentOrphansAreRefiledAndBlankMessagesRemoved) {
  reopen();
  OxStorageInterface::RecoveryReport report;
  ASSERT_TRUE(storage_->RecoverStorage(&report));
  EXPECT_EQ(report.rebuilt, 3u);
  EXPECT_EQ(report.repaired + report.quarantined + report.refiled + report.removed + report.folders, 0u);
  ASSERT_TRUE(storage_->RecoverStorage(&(report = {})));
  EXPECT_FALSE(report.changed());
  closeAll();
  // Refiled: a message only its folder's header cache names, a stray file, an index word of another folder.
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
  EXPECT_EQ((std::vector{where.at(2), where.at(1), where.at(0x0100)}),
            (std::vector{Ids{trays_[2]}, Ids{trays_[0]}, Ids{trays_[0]}}));
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
