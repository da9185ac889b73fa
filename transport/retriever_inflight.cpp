// The UIDs in flight: a message stored by a run that died before LastUID.ini recorded it must not
// be stored again. Before each save the UID is added to "RecvUID.dat" in the account directory,
// one line each, and the file is emptied once LastUID.ini names the saved messages (at most once
// a second). A retrieval that starts with UIDs noted there after the last UID lets the storage's
// recovery mend the folders' lists first, then looks them up among the newest messages. Messages
// are saved in the server's order, so those found whole are the first ones noted: once they are
// flushed to the disk, LastUID.ini names the last of them, and the conversation takes only what
// follows as new. Newer messages without text are the remains of a save that died between making
// the message and writing it: they are removed.
#include <algorithm>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "accounts/account_info.h"
#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/storage_interface.h"
#include "transport/retriever.h"

namespace {

constexpr const wchar_t* kInFlightFile = L"RecvUID.dat";
// The notes of a second of messages: 1 MB holds 14,000 UIDs of 70 characters.
constexpr size_t kMaxNotes = 1 << 20;
// Messages of others (a draft, another account's filing) looked past among the newest.
constexpr int kLookPast = 16;
constexpr unsigned kReceived = 1;  // the numeric attribute of a received message

// Every message identifier of the storage, from the folder tree (virtual folders repeat some).
void collectMessages(OxStorageInterface& storage, OxFolderInterface& folder, std::set<unsigned long>* ids) {
  std::vector<unsigned long> messages;
  if (folder.GetMessageIds(&messages)) ids->insert(messages.begin(), messages.end());
  std::vector<unsigned long> children;
  if (!folder.GetFolderIds(&children)) return;
  for (unsigned long child : children) {
    std::unique_ptr<OxFolderInterface> sub(storage.OpenFolder(child));
    if (sub) collectMessages(storage, *sub, ids);
  }
}

}  // namespace

// RecvUID.dat stays open for the run, from the look at what an earlier run noted: one write a
// message, at the end of what is noted. A write that fails closes it, and the next opens it
// afresh.
bool OxRetriever::openNotes() {
  if (inFlight_) return true;
  if (inFlightPath_.empty()) return false;
  auto file = std::make_unique<oxm::File>();
  if (!file->open(inFlightPath_, oxm::GENERIC_READ | oxm::GENERIC_WRITE, 0, oxm::OPEN_ALWAYS) ||
      !file->size(&inFlightSize_)) {
    return false;
  }
  inFlight_ = std::move(file);
  return true;
}

void OxRetriever::noteInFlight(const std::string& uid) {
  if (!openNotes()) return;
  const std::string line = uid + "\n";
  if (!inFlight_->writeAt(inFlightSize_, line.data(), line.size())) {
    inFlight_.reset();
    return;
  }
  inFlightSize_ += line.size();
}

void OxRetriever::clearInFlight() {
  if (!inFlight_ || inFlightSize_ == 0) return;
  if (!inFlight_->truncate(0)) {
    inFlight_.reset();
    return;
  }
  inFlightSize_ = 0;
}

bool OxRetriever::recoverInFlight() {
  inFlight_.reset();
  inFlightPath_ = oxm::accountFilePath(accountName_, kInFlightFile);
  if (!openNotes() || inFlightSize_ == 0) return false;
  std::string notes(std::min<size_t>(inFlightSize_, kMaxNotes), '\0');
  size_t got = 0;
  if (!inFlight_->read(notes.data(), notes.size(), &got)) return false;
  notes.resize(got);
  std::wstring last;
  std::string lastNarrow;
  if (!account_->GetLastUID(&last) || oxm::wideToMulti(last, &lastNarrow) != OXMDL_ERR_NONE || !storage_) {
    return false;
  }
  // The UIDs noted after the last UID (all of them when it is not among them), in their order.
  std::vector<std::string> noted;
  for (size_t start = 0; start < notes.size();) {
    size_t end = notes.find('\n', start);
    if (end == std::string::npos) end = notes.size();
    if (end > start) noted.push_back(notes.substr(start, end - start));
    start = end + 1;
  }
  noted.erase(noted.begin(), std::find(noted.rbegin(), noted.rend(), lastNarrow).base());
  if (noted.empty()) {
    clearInFlight();
    return false;
  }
  // A save died half-way: the folders' lists and header caches may disagree with the files.
  if (!storage_->RecoverMessageEntryAll()) {
    oxm::NKDbgPrintfW(L"OxRetriever: recovery after a retrieval that died failed (%08x)\r\n", GetOxMiddleError());
  }
  std::unique_ptr<OxFolderInterface> root(storage_->OpenRootFolder());
  if (!root) return false;
  std::set<unsigned long> ids;
  collectMessages(*storage_, *root, &ids);
  // The newest messages first: the noted ones were made last. Remains without text (made,
  // perhaps given a UID, never written) go; the look ends when every noted UID is found or past
  // a few messages of others.
  std::set<std::string> wanted(noted.begin(), noted.end()), found;
  int others = 0;
  for (auto it = ids.rbegin(); it != ids.rend() && found.size() < wanted.size() && others <= kLookPast; ++it) {
    std::string text;
    OxMessageInterface::Attributes a;
    {
      std::unique_ptr<OxMessageInterface> message(storage_->OpenMessage(*it));
      if (!message) continue;
      a.mask = OxMessageInterface::ATTR_TEXT | OxMessageInterface::ATTR_NUMERIC;
      message->GetAttributes(&a);
      message->Read(&text);
    }
    if (text.empty() && (a.text.empty() || wanted.count(a.text) != 0)) {
      oxm::NKDbgPrintfW(L"OxRetriever: removing message %lu, left without text by a retrieval that died\r\n", *it);
      storage_->RemoveMessage(*it);
    } else if (a.numericAttribute != kReceived || wanted.count(a.text) == 0 || !found.insert(a.text).second) {
      ++others;
    }
  }
  // The first noted UIDs that were found: flushed (their entries were not yet), then named.
  auto stored = std::find_if(noted.begin(), noted.end(), [&](const std::string& uid) { return found.count(uid) == 0; });
  if (stored != noted.begin() &&
      (!oxm::syncFileSystemOf(inFlightPath_) || !account_->SaveLastUID(*std::prev(stored)))) {
    return false;
  }
  // What was not found comes again, and is noted again when it is saved.
  clearInFlight();
  return stored != noted.begin();
}
