// Shared pieces of the store tests: a fresh storage with the root and the four trays, a fake
// codec (a test double that reads a few plain header lines, not a decoder), and small helpers.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
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
using Attr = OxMessageInterface::Attributes;
using Ids = std::vector<unsigned long>;

// Reads "To:", "From:", "X-Name:", "Subject:" and "X-Date: Y M D h m s" lines (local time).
class FakeCodec : public MessageCodec {
 public:
  unsigned decodeFields(const std::string& text, MessageFields* out) override {
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
    return OXMDL_ERR_NONE;
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
};

inline std::string mailText(const std::string& subject, const std::string& body = "body\r\n") {
  return "From: sender@example.jp\r\nTo: rcpt@example.jp\r\nX-Name: Sender\r\nSubject: " + subject +
         "\r\nX-Date: 2024 5 6 7 8 9\r\n\r\n" + body;
}

// Success when `result` failed (false or null) with `code` as the last error; a non-null
// result is released.
template <class T>
::testing::AssertionResult failsWith(T result, unsigned code) {
  bool failed;
  if constexpr (std::is_pointer_v<T>) {
    failed = result == nullptr;
    delete result;
  } else {
    failed = !result;
  }
  const unsigned got = static_cast<unsigned>(GetOxMiddleError());
  if (failed && got == code) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (failed ? "failed" : "succeeded") << std::hex << " with code " << got
                                       << ", expected a failure with " << code;
}

// A list for the calls that take theirs by reference.
inline Ids& idList(Ids&& v) { return v; }

// "2024-02-29 23:59:58.000 w4": a date with its day of the week, for one comparison.
inline std::string when(const SYSTEMTIME& t) {
  char s[48];
  std::snprintf(s, sizeof s, "%04u-%02u-%02u %02u:%02u:%02u.%03u w%u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds, t.wDayOfWeek);
  return s;
}

// The fields `a.mask` selects, in one line ("unread 1 keep 0 numeric 4"); other than ASCII as \uXXXX.
inline std::string describe(const Attr& a) {
  auto narrow = [](const std::wstring& w) {
    std::string s;
    char u[8];
    for (wchar_t c : w) {
      if (c < 0x80) s += char(c);
      else s.append(u, std::snprintf(u, sizeof u, "\\u%04X", unsigned(c)));
    }
    return s;
  };
  std::ostringstream o;
  const char* flags[] = {"unread", "attachment", "partial", "keep"};
  for (int i = 0; i < 4; ++i) {
    if (a.mask & (1u << i)) o << " " << flags[i] << " " << int(a.flags[i]);
  }
  if (a.mask & OxMessageInterface::ATTR_TIME) o << " time " << when(a.time);
  if (a.mask & OxMessageInterface::ATTR_TEXT) o << " text '" << a.text << "'";
  if (a.mask & OxMessageInterface::ATTR_TO_ADDRESS) o << " to " << narrow(a.toAddress);
  if (a.mask & OxMessageInterface::ATTR_FROM_ADDRESS) o << " from " << narrow(a.fromAddress);
  if (a.mask & OxMessageInterface::ATTR_FROM_NAME) o << " name " << narrow(a.fromName);
  if (a.mask & OxMessageInterface::ATTR_SUBJECT) o << " subject " << narrow(a.subject);
  if (a.mask & OxMessageInterface::ATTR_DATE) o << " date " << when(a.date);
  if (a.mask & OxMessageInterface::ATTR_NUMERIC) o << " numeric " << a.numericAttribute;
  if (a.mask & OxMessageInterface::ATTR_BYTE) o << " byte " << int(a.byteAttribute);
  return o.str().substr(1);
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
  // Sets the attributes of message `id` through an interface of its own.
  void setAttr(unsigned long id, const Attr& a) {
    MessagePtr m(storage_->OpenMessage(id));
    ASSERT_TRUE(m && m->SetAttributes(a)) << std::hex << GetOxMiddleError();
  }
  Ids ids(OxFolderInterface* folder) {
    Ids v;
    EXPECT_TRUE(folder->GetMessageIds(&v)) << std::hex << GetOxMiddleError();
    return v;
  }
  std::string file(const std::string& rel) { return readHostFile(root_.host(rel)); }
  void put(const std::string& rel, const std::string& bytes) { writeHostFile(root_.host(rel), bytes); }
  bool has(const std::string& rel) { return hostFileExists(root_.host(rel)); }
  // Success when each file holds its bytes; kAbsent: no such file or directory.
  static constexpr const char* kAbsent = "(absent)";
  ::testing::AssertionResult filesAre(std::initializer_list<std::pair<std::string, std::string>> want) {
    std::string wrong;
    for (const auto& [rel, bytes] : want) {
      const std::string got = !has(rel) ? kAbsent : std::filesystem::is_directory(root_.host(rel)) ? "(dir)" : file(rel);
      if (got == bytes) continue;
      // Both around the first difference: large files stay readable.
      size_t at = std::mismatch(got.begin(), got.begin() + std::min(got.size(), bytes.size()), bytes.begin()).first -
                  got.begin();
      at = at > 16 ? at - 16 : 0;
      wrong += "\n  " + rel + " (" + std::to_string(got.size()) + " bytes, expected " + std::to_string(bytes.size()) +
               ") from byte " + std::to_string(at) + ": " + ::testing::PrintToString(got.substr(at, 64)) +
               ", expected " + ::testing::PrintToString(bytes.substr(at, 64));
    }
    if (wrong.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong;
  }
  // Closes the storage, writes a file of it and opens it again.
  void rewrite(const std::string& rel, const std::string& bytes) {
    closeAll();
    put(rel, bytes);
    reopen();
  }
  std::string problems();
  // The closed store kept aside as "good", and put back.
  void saveGood() {
    closeAll();
    std::filesystem::copy(root_.host("S"), root_.host("good"), std::filesystem::copy_options::recursive);
  }
  void restoreGood() {
    closeAll();
    std::filesystem::remove_all(root_.host("S"));
    std::filesystem::copy(root_.host("good"), root_.host("S"), std::filesystem::copy_options::recursive);
  }
  // Which folders list each message, walking the tree from the root.
  std::map<unsigned long, Ids> listing();
  // "" when every listed message has its text, else the first that has none.
  std::string blankMessage();

  FakeCodec codec_;
  StoragePtr storage_;
  FolderPtr root_folder_;
  Ids trays_;
};

// Every real folder reachable from the root, root first.
inline Ids allFolders(OxStorageInterface* s) {
  Ids out;
  Ids pending{0};
  while (!pending.empty() && out.size() < 100) {
    unsigned long id = pending.back();
    pending.pop_back();
    out.push_back(id);
    FolderPtr f(s->OpenFolder(id));
    Ids children;
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
    FolderPtr f(s->OpenFolder(folder));
    if (!f) return "folder " + std::to_string(folder) + " does not open: " + std::to_string(GetOxMiddleError());
    Ids ids;
    if (!f->GetMessageIds(&ids)) return "folder " + std::to_string(folder) + " does not list";
    for (unsigned long id : ids) {
      if (listedBy[id] >= 0) return "message " + std::to_string(id) + " listed twice";
      listedBy[id] = static_cast<int>(folder);
      if (words[id] != folder) return "message " + std::to_string(id) + " owned by another folder";
      MessagePtr m(s->OpenMessage(id));
      std::string text;
      if (!m || !m->Read(&text)) return "message " + std::to_string(id) + " unreadable";
    }
  }
  for (unsigned long id = 0; id < 65536; ++id) {
    if (words[id] != 0xFFFFFFFFu && listedBy[id] < 0) return "message " + std::to_string(id) + " in no list";
  }
  return "";
}

inline std::string StoreTest::problems() { return storeProblems(storage_.get(), root_.host("S/DATA/Entry.dat")); }

inline std::map<unsigned long, Ids> StoreTest::listing() {
  std::map<unsigned long, Ids> where;
  for (unsigned long folder : allFolders(storage_.get())) {
    FolderPtr f(storage_->OpenFolder(folder));
    Ids listed;
    EXPECT_TRUE(f && f->GetMessageIds(&listed)) << "folder " << folder << std::hex << " " << GetOxMiddleError();
    for (unsigned long id : listed) where[id].push_back(folder);
  }
  return where;
}

inline std::string StoreTest::blankMessage() {
  for (const auto& [id, folders] : listing()) {
    MessagePtr m(storage_->OpenMessage(id));
    std::string text;
    if (!m || !m->Read(&text) || text.empty()) return "message " + std::to_string(id) + " without text";
  }
  return "";
}

}  // namespace oxm::test
