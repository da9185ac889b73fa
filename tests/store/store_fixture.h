// Shared pieces of the store tests: a fresh storage with the root and the four trays, a fake
// codec (a test double that reads a few plain header lines, not a decoder), and small helpers.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/oxerror.h"
#include "platform/fault.h"
#include "store/message_codec.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "store/storage_tree.h"
#include "tests/support/testroot.h"

namespace oxm::test {

using FolderPtr = std::unique_ptr<OxFolderInterface>;
using MessagePtr = std::unique_ptr<OxMessageInterface>;
using StoragePtr = std::unique_ptr<OxStorageInterface>;

// Reads "To:", "From:", "X-Name:", "Subject:" and "X-Date: Y M D h m s" lines (local time).
class FakeCodec : public MessageCodec {
 public:
  unsigned decodeFields(const std::string& text, MessageFields* out) override {
    ++decodes;
    std::istringstream in(text);
    std::string line;
    MessageFields f;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) break;
      auto value = [&](const char* name, std::wstring* field) {
        size_t n = std::char_traits<char>::length(name);
        if (line.compare(0, n, name) == 0) field->assign(line.begin() + n, line.end());
      };
      value("To: ", &f.toAddress);
      value("From: ", &f.fromAddress);
      value("X-Name: ", &f.fromName);
      value("Subject: ", &f.subject);
      if (line.rfind("X-Date: ", 0) == 0) {
        std::istringstream d(line.substr(8));
        unsigned y, mo, da, h, mi, s;
        d >> y >> mo >> da >> h >> mi >> s;
        f.localDate = SYSTEMTIME{WORD(y), WORD(mo), 0, WORD(da), WORD(h), WORD(mi), WORD(s), 0};
      }
    }
    *out = f;
    return failDecode;
  }
  // The "Email" handed to Write(Email*) in tests is really a FakeMail.
  struct FakeMail {
    std::string text;
    bool enclosures = false;
  };
  unsigned encode(Email* mail, EncodedMessage* out) override {
    auto* m = reinterpret_cast<FakeMail*>(mail);
    out->text = m->text;
    out->textAttribute = "encoded";
    const unsigned code = decodeFields(m->text, &out->fields);
    out->fields.hasEnclosures = m->enclosures;
    return code;
  }
  unsigned removeAttachments(const std::string& text, std::string* out) override {
    size_t cut = text.find("--attachment");
    if (cut == std::string::npos) return OXMDL_ERR_ATT_SINGLE_PART;
    *out = text.substr(0, cut);
    return OXMDL_ERR_NONE;
  }
  int decodes = 0;
  unsigned failDecode = OXMDL_ERR_NONE;
};

inline std::string mailText(const std::string& subject, const std::string& body = "body\r\n") {
  return "From: sender@example.jp\r\nTo: rcpt@example.jp\r\nX-Name: Sender\r\nSubject: " + subject +
         "\r\nX-Date: 2024 5 6 7 8 9\r\n\r\n" + body;
}

// A storage "S" made fresh, opened, with the four trays 1..4 under the root.
class StoreTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    registerMessageCodec(&codec_);
    ASSERT_EQ(createStorageTree(L"S"), OXMDL_ERR_NONE);
    storage_.reset(openStorageInterface(L"S"));
    ASSERT_TRUE(storage_) << std::hex << GetOxMiddleError();
    root_folder_.reset(storage_->OpenRootFolder());
    ASSERT_TRUE(root_folder_);
    for (const wchar_t* name : {L"\u53D7\u4FE1\u30C8\u30EC\u30A4", L"\u9001\u4FE1\u5F85\u3061\u30C8\u30EC\u30A4",
                                L"\u9001\u4FE1\u6E08\u307F\u30C8\u30EC\u30A4", L"\u4E0B\u66F8\u304D\u30C8\u30EC\u30A4"}) {
      unsigned long id = 0;
      ASSERT_TRUE(root_folder_->CreateFolder(name, &id));
      trays_.push_back(id);
    }
  }
  void TearDown() override {
    closeAll();
    registerMessageCodec(nullptr);
    EXPECT_FALSE(StorageSet::instance().isOpen(L"S")) << "a test left the storage open";
    RootTest::TearDown();
  }
  void closeAll() {
    root_folder_.reset();
    storage_.reset();
  }
  // Reopens the storage as a new process would find it.
  void reopen() {
    closeAll();
    ASSERT_FALSE(StorageSet::instance().isOpen(L"S"));
    storage_.reset(openStorageInterface(L"S"));
    ASSERT_TRUE(storage_) << std::hex << GetOxMiddleError();
    root_folder_.reset(storage_->OpenRootFolder());
    ASSERT_TRUE(root_folder_);
  }
  FolderPtr tray(int n) { return FolderPtr(storage_->OpenFolder(trays_[static_cast<size_t>(n)])); }
  // Creates a message in `folder` and writes `text` into it.
  unsigned long addMessage(OxFolderInterface* folder, const std::string& text) {
    unsigned long id = 0;
    EXPECT_TRUE(folder->CreateMessage(&id)) << std::hex << GetOxMiddleError();
    MessagePtr m(storage_->OpenMessage(id));
    EXPECT_TRUE(m && m->Write(text)) << std::hex << GetOxMiddleError();
    return id;
  }
  std::vector<unsigned long> ids(OxFolderInterface* folder) {
    std::vector<unsigned long> v;
    EXPECT_TRUE(folder->GetMessageIds(&v)) << std::hex << GetOxMiddleError();
    return v;
  }
  std::string file(const std::string& rel) { return readHostFile(root_.host(rel)); }

  FakeCodec codec_;
  StoragePtr storage_;
  FolderPtr root_folder_;
  std::vector<unsigned long> trays_;
};

}  // namespace oxm::test

namespace oxm::test {

// Every real folder reachable from the root, root first.
inline std::vector<unsigned long> allFolders(OxStorageInterface* s) {
  std::vector<unsigned long> out;
  std::vector<unsigned long> pending{0};
  while (!pending.empty() && out.size() < 100) {
    unsigned long id = pending.back();
    pending.pop_back();
    out.push_back(id);
    std::unique_ptr<OxFolderInterface> f(s->OpenFolder(id));
    std::vector<unsigned long> children;
    if (!f || !f->GetFolderIds(&children)) continue;
    for (unsigned long c : children) {
      if (c <= 0xFFFF) pending.push_back(c);
    }
  }
  return out;
}

// "" when the store agrees with itself: every folder lists (its cache agreeing), every listed
// message is listed once, owned by that folder in Entry.dat and readable, and every message of
// Entry.dat is listed by its owner. Otherwise what is wrong.
inline std::string storeProblems(OxStorageInterface* s, const std::string& entryDatHost) {
  const std::string entry = readHostFile(entryDatHost);
  if (entry.size() != 262144) return "Entry.dat size";
  const uint32_t* words = reinterpret_cast<const uint32_t*>(entry.data());
  std::vector<int> listedBy(65536, -1);
  for (unsigned long folder : allFolders(s)) {
    std::unique_ptr<OxFolderInterface> f(s->OpenFolder(folder));
    if (!f) return "folder " + std::to_string(folder) + " does not open: " + std::to_string(GetOxMiddleError());
    std::vector<unsigned long> ids;
    if (!f->GetMessageIds(&ids)) return "folder " + std::to_string(folder) + " does not list";
    for (unsigned long id : ids) {
      if (listedBy[id] >= 0) return "message " + std::to_string(id) + " listed twice";
      listedBy[id] = static_cast<int>(folder);
      if (words[id] != folder) return "message " + std::to_string(id) + " owned by another folder";
      std::unique_ptr<OxMessageInterface> m(s->OpenMessage(id));
      std::string text;
      if (!m || !m->Read(&text)) return "message " + std::to_string(id) + " unreadable";
    }
  }
  for (unsigned long id = 0; id < 65536; ++id) {
    if (words[id] != 0xFFFFFFFFu && listedBy[id] < 0) return "message " + std::to_string(id) + " in no list";
  }
  return "";
}

}  // namespace oxm::test
