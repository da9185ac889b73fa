// The store tests' fixture: a fresh storage with the root and the four trays, the library's codec.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "accounts/store_codec.h"
#include "frame/oxerror.h"
#include "platform/fault.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "store/storage_tree.h"
#include "tests/support/children.h"
#include "tests/support/testroot.h"

namespace oxm::test {

using FolderPtr = std::unique_ptr<OxFolderInterface>;
using MessagePtr = std::unique_ptr<OxMessageInterface>;
using StoragePtr = std::unique_ptr<OxStorageInterface>;
using Attr = OxMessageInterface::Attributes;
using Ids = std::vector<unsigned long>;

inline std::string mailText(const std::string& subject, const std::string& body = "body\r\n") {
  return "From: Sender <sender@example.jp>\r\nTo: rcpt@example.jp\r\nSubject: " + subject +
         "\r\nDate: Mon, 06 May 2024 07:08:09 +0900\r\n\r\n" + body;
}

// Success when `result` failed (false or null) with `code` as the last error; a non-null one is freed.
template <class T>
::testing::AssertionResult failsWith(T result, unsigned code) {
  bool failed = !result;
  if constexpr (std::is_pointer_v<T>) delete result;
  const unsigned got = static_cast<unsigned>(GetOxMiddleError());
  if (failed && got == code) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (failed ? "failed" : "succeeded") << std::hex << " with code " << got
                                       << ", expected a failure with " << code;
}

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
    for (wchar_t c : w) s.append(u, std::snprintf(u, sizeof u, c < 0x80 ? "%c" : "\\u%04X", unsigned(c)));
    return s;
  };
  std::ostringstream o;
  const char* flags[] = {"unread", "attachment", "partial", "keep"};
  for (int i = 0; i < 4; ++i) {
    if (a.mask & (1u << i)) o << " " << flags[i] << " " << int(a.flags[i]);
  }
  using I = OxMessageInterface;
  if (a.mask & I::ATTR_TIME) o << " time " << when(a.time);
  if (a.mask & I::ATTR_TEXT) o << " text '" << a.text << "'";
  if (a.mask & I::ATTR_TO_ADDRESS) o << " to " << narrow(a.toAddress);
  if (a.mask & I::ATTR_FROM_ADDRESS) o << " from " << narrow(a.fromAddress);
  if (a.mask & I::ATTR_FROM_NAME) o << " name " << narrow(a.fromName);
  if (a.mask & I::ATTR_SUBJECT) o << " subject " << narrow(a.subject);
  if (a.mask & I::ATTR_DATE) o << " date " << when(a.date);
  if (a.mask & I::ATTR_NUMERIC) o << " numeric " << a.numericAttribute;
  if (a.mask & I::ATTR_BYTE) o << " byte " << int(a.byteAttribute);
  return o.str().substr(1);
}

// Runs `child` in a forked process whose exit status is what it returns; the parent gets the pid.
template <class F>
pid_t spawn(F&& child) {
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  if (pid < 0) ADD_FAILURE() << "fork failed";
  return pid;
}
inline int waitFor(pid_t pid) {
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return status;
}

// Every real folder reachable from the root, root first.
inline Ids allFolders(OxStorageInterface* s) {
  Ids out, pending{0};
  while (!pending.empty() && out.size() < 100) {
    out.push_back(pending.back());
    pending.pop_back();
    FolderPtr f(s->OpenFolder(out.back()));
    Ids children;
    if (f && f->GetFolderIds(&children)) std::copy_if(children.begin(), children.end(), std::back_inserter(pending),
                                                      [](unsigned long c) { return c <= 0xFFFF; });
  }
  return out;
}

// A storage "S" made fresh, opened, with the four trays 1..4 under the root.
class StoreTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    ASSERT_EQ(createStorageTree(L"S"), OXMDL_ERR_NONE);
    reopen();
    if (HasFatalFailure()) return;
    for (const wchar_t* name : {L"\u53D7\u4FE1\u30C8\u30EC\u30A4", L"\u9001\u4FE1\u5F85\u3061\u30C8\u30EC\u30A4",
                                L"\u9001\u4FE1\u6E08\u307F\u30C8\u30EC\u30A4", L"\u4E0B\u66F8\u304D\u30C8\u30EC\u30A4"}) {
      ASSERT_TRUE(root_folder_->CreateFolder(name, &trays_.emplace_back()));
    }
  }
  void TearDown() override {
    closeAll();
    registerMessageCodec(&storeCodec());  // as the library registers it
    EXPECT_FALSE(StorageSet::instance().isOpen(L"S")) << "a test left the storage open";
    RootTest::TearDown();
  }
  void closeAll() {
    message_.reset();
    inbox_.reset();
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
    Ids v{0xDEAD};  // the list replaces whatever the vector held
    EXPECT_TRUE(folder->GetMessageIds(&v)) << std::hex << GetOxMiddleError();
    return v;
  }
  std::string file(const std::string& rel) { return readHostFile(root_.host(rel)); }
  void put(const std::string& rel, const std::string& bytes) { writeHostFile(root_.host(rel), bytes); }
  bool has(const std::string& rel) { return hostFileExists(root_.host(rel)); }
  void remove(const std::string& rel) { ASSERT_TRUE(std::filesystem::remove(root_.host(rel))) << rel; }
  // Success when each file holds its bytes (kAbsent: none); a difference is shown from just before it.
  static constexpr const char* kAbsent = "(absent)";
  ::testing::AssertionResult filesAre(std::initializer_list<std::pair<std::string, std::string>> want) {
    auto result = ::testing::AssertionSuccess();
    for (const auto& [rel, bytes] : want) {
      const std::string got = !has(rel) ? kAbsent : std::filesystem::is_directory(root_.host(rel)) ? "(dir)" : file(rel);
      if (got == bytes) continue;
      const size_t at = std::mismatch(got.begin(), got.end(), bytes.begin(), bytes.end()).first - got.begin();
      const size_t from = at > 16 ? at - 16 : 0;
      result = ::testing::AssertionFailure() << result.message() << "\n  " << rel << " (" << got.size() << " bytes) from "
                                             << from << ": " << ::testing::PrintToString(got.substr(from, 64))
                                             << ", expected " << ::testing::PrintToString(bytes.substr(from, 64));
    }
    return result;
  }
  // Closes the storage, writes a file of it and opens it again.
  void rewrite(const std::string& rel, const std::string& bytes) {
    closeAll();
    put(rel, bytes);
    reopen();
  }
  // "" when every folder lists and each message is listed once, by its owner in Entry.dat, readable.
  std::string problems() {
    const std::string entry = file("S/DATA/Entry.dat");
    if (entry.size() != 262144) return "Entry.dat size";
    const uint32_t* words = reinterpret_cast<const uint32_t*>(entry.data());
    std::vector<int> listedBy(65536, -1);
    for (unsigned long folder : allFolders(storage_.get())) {
      FolderPtr f(storage_->OpenFolder(folder));
      Ids ids;
      if (!f || !f->GetMessageIds(&ids)) return "folder " + std::to_string(folder) + " does not open or list";
      for (unsigned long id : ids) {
        const std::string message = "message " + std::to_string(id);
        if (listedBy[id] >= 0) return message + " listed twice";
        listedBy[id] = static_cast<int>(folder);
        if (words[id] != folder) return message + " owned by another folder";
        if (text(id) == "(unreadable)") return message + " unreadable";
      }
    }
    for (unsigned long id = 0; id < 65536; ++id) {
      if (words[id] != 0xFFFFFFFFu && listedBy[id] < 0) return "message " + std::to_string(id) + " in no list";
    }
    return "";
  }
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
  std::map<unsigned long, Ids> listing() {
    std::map<unsigned long, Ids> where;
    for (unsigned long folder : allFolders(storage_.get())) {
      FolderPtr f(storage_->OpenFolder(folder));
      Ids listed;
      EXPECT_TRUE(f && f->GetMessageIds(&listed)) << "folder " << folder << std::hex << " " << GetOxMiddleError();
      for (unsigned long id : listed) where[id].push_back(folder);
    }
    return where;
  }
  // The text of message `id`, or "(unreadable)".
  std::string text(unsigned long id) {
    MessagePtr m(storage_->OpenMessage(id));
    std::string t;
    return m && m->Read(&t) ? t : "(unreadable)";
  }
  // "" when every listed message has its text, else the first that has none.
  std::string blankMessage() {
    for (const auto& [id, folders] : listing()) {
      const std::string t = text(id);
      if (t.empty() || t == "(unreadable)") return "message " + std::to_string(id) + " without text";
    }
    return "";
  }
  // Reopens; problems() (with `blanks`: a message without text) must be mended by one recovery.
  void reopenAndMend(const std::string& what, bool blanks = false) {
    reopen();
    auto wrong = [&] { return problems().empty() && blanks ? blankMessage() : problems(); };
    const std::string problem = wrong();
    if (problem.empty()) return;
    ++recoveries_;
    ASSERT_TRUE(storage_->RecoverMessageEntryAll()) << what << ": " << problem << std::hex << " " << GetOxMiddleError();
    ASSERT_EQ(wrong(), "") << what << " after " << problem;
  }

  StoragePtr storage_;
  FolderPtr root_folder_, inbox_;  // inbox_: for a test that keeps one open
  MessagePtr message_;
  Ids trays_;
  int recoveries_ = 0;
};

}  // namespace oxm::test
