// The UID in flight: a message stored by a run that died before LastUID.ini recorded it must not
// be stored again. Before each save the UID is written to "RecvUID.dat" in the account
// directory. A retrieval that starts while that UID differs from the last UID lets the storage's
// recovery mend the folders' lists first, then looks the UID up: found whole, the server's copy
// is taken as stored when it arrives. Newer messages without text are the remains of a save that
// died between making the message and writing it: they are removed.
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
constexpr size_t kMaxUid = 1024;
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

// The file stays open for the run: one write a message (a shorter UID than the one before cuts
// the file first). A write that fails closes it, and the next message starts afresh.
void OxRetriever::noteInFlight(const std::string& uid) {
  if (inFlightPath_.empty()) return;
  if (!inFlight_) {
    auto file = std::make_unique<oxm::File>();
    if (!file->open(inFlightPath_, oxm::GENERIC_WRITE, 0, oxm::CREATE_ALWAYS)) return;
    inFlight_ = std::move(file);
    inFlightSize_ = 0;
  }
  if ((uid.size() < inFlightSize_ && !inFlight_->truncate(uid.size())) || !inFlight_->writeAt(0, uid.data(), uid.size())) {
    inFlight_.reset();
    return;
  }
  inFlightSize_ = uid.size();
}

void OxRetriever::recoverInFlight() {
  inFlight_.reset();
  storedInFlight_.clear();
  inFlightPath_ = oxm::accountFilePath(accountName_, kInFlightFile);
  if (inFlightPath_.empty()) return;

  std::string uid(kMaxUid, '\0');
  size_t got = 0;
  {
    oxm::File file;
    if (!file.open(inFlightPath_, oxm::GENERIC_READ, 0, oxm::OPEN_EXISTING) || !file.read(uid.data(), kMaxUid, &got)) {
      return;
    }
  }
  uid.resize(got);
  std::wstring last;
  std::string lastNarrow;
  if (uid.empty() || !account_->GetLastUID(&last) || oxm::wideToMulti(last, &lastNarrow) != OXMDL_ERR_NONE ||
      lastNarrow == uid || !storage_) {
    return;
  }
  // A save died half-way: the folders' lists and header caches may disagree with the files.
  if (!storage_->RecoverMessageEntryAll()) {
    oxm::NKDbgPrintfW(L"OxRetriever: recovery after a retrieval that died failed (%08x)\r\n", GetOxMiddleError());
  }
  std::unique_ptr<OxFolderInterface> root(storage_->OpenRootFolder());
  if (!root) return;
  std::set<unsigned long> ids;
  collectMessages(*storage_, *root, &ids);
  // The newest messages first: the one in flight was made last. Remains without text (made,
  // perhaps given the UID, never written) go; the first message with text ends the look.
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    std::string text;
    OxMessageInterface::Attributes a;
    {
      std::unique_ptr<OxMessageInterface> message(storage_->OpenMessage(*it));
      if (!message) continue;
      a.mask = OxMessageInterface::ATTR_TEXT | OxMessageInterface::ATTR_NUMERIC;
      message->GetAttributes(&a);
      message->Read(&text);
    }
    if (text.empty() && (a.text.empty() || a.text == uid)) {
      oxm::NKDbgPrintfW(L"OxRetriever: removing message %lu, left without text by a retrieval that died\r\n", *it);
      storage_->RemoveMessage(*it);
      continue;
    }
    if (a.text == uid && a.numericAttribute == kReceived) storedInFlight_ = uid;
    return;
  }
}
