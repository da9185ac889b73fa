#include "store/oldmessage.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/oxerror.h"

namespace oxm {

namespace {

using FolderPtr = std::unique_ptr<OxFolderInterface>;
using MessagePtr = std::unique_ptr<OxMessageInterface>;

// Messages of a folder and of every folder below it. A damaged tree that loops is cut at the
// first folder seen twice.
bool countMessages(OxFolderInterface* folder, unsigned long id, std::vector<unsigned long>* seen,
                   unsigned long* count) {
  for (unsigned long s : *seen) {
    if (s == id) return true;
  }
  seen->push_back(id);
  std::vector<unsigned long> ids;
  if (!folder->GetMessageIds(&ids)) return false;
  *count += ids.size();
  std::vector<unsigned long> children;
  if (!folder->GetFolderIds(&children)) return false;
  for (unsigned long child : children) {
    FolderPtr sub(folder->OpenFolder(child));
    if (!sub || !countMessages(sub.get(), child, seen, count)) return false;
  }
  return true;
}

struct Candidate {
  std::string key;  // "%04d/%02d/%02d %02d:%02d:%02d" of the message file's time
  unsigned long id;
};

// Read messages that may go, children before the folder's own messages, each kept in key order;
// a message of an equal key goes after those collected before it.
bool collectCandidates(OxFolderInterface* folder, unsigned long id, std::vector<unsigned long>* seen,
                       std::vector<Candidate>* out) {
  for (unsigned long s : *seen) {
    if (s == id) return true;
  }
  seen->push_back(id);
  std::vector<unsigned long> children;
  if (!folder->GetFolderIds(&children)) return false;
  for (unsigned long child : children) {
    FolderPtr sub(folder->OpenFolder(child));
    if (!sub || !collectCandidates(sub.get(), child, seen, out)) return false;
  }
  std::vector<unsigned long> ids;
  if (!folder->GetMessageIds(&ids)) return false;
  for (unsigned long messageId : ids) {
    MessagePtr message(folder->OpenMessage(messageId));
    if (!message) return false;
    OxMessageInterface::Attributes attr;
    attr.mask = OxMessageInterface::ATTR_UNREAD | OxMessageInterface::ATTR_KEEP | OxMessageInterface::ATTR_TIME;
    if (!message->GetAttributes(&attr) && GetOxMiddleError() != OXMDL_ERR_STG_NO_ATTRIBUTE) return false;
    if (attr.flags[OxMessageInterface::FLAG_UNREAD] != 0 || attr.flags[OxMessageInterface::FLAG_KEEP] != 0) continue;
    char key[40];
    std::snprintf(key, sizeof key, "%04d/%02d/%02d %02d:%02d:%02d", attr.time.wYear, attr.time.wMonth,
                  attr.time.wDay, attr.time.wHour, attr.time.wMinute, attr.time.wSecond);
    Candidate c{key, messageId};
    auto at = out->begin();
    while (at != out->end() && at->key <= c.key) ++at;
    out->insert(at, std::move(c));
  }
  return true;
}

}  // namespace

bool OldMessageCheck::Check(unsigned long incoming, unsigned long* missing) {
  if (!missing) {
    SetOxMiddleError(OXMDL_ERR_OLD_NULL_ARG);
    return false;
  }
  *missing = 0;
  OldMessageLimits limits;
  unsigned code = account_->readLimits(&limits);
  if (code != OXMDL_ERR_NONE) {
    SetOxMiddleError(code);
    return false;
  }
  FolderPtr root(storage_->OpenRootFolder());
  if (!root) return false;
  const unsigned long trayIds[2] = {limits.receiveTray, limits.sentTray};
  FolderPtr trays[2];
  for (int i = 0; i < 2; ++i) {
    trays[i].reset(root->OpenFolder(trayIds[i]));
    if (!trays[i]) return false;
  }
  unsigned long count = 0;
  std::vector<unsigned long> seen;
  for (int i = 0; i < 2; ++i) {
    if (!countMessages(trays[i].get(), trayIds[i], &seen, &count)) return false;
  }
  if (count + incoming <= limits.cap) return true;
  const unsigned long needed = count + incoming - limits.cap;

  std::vector<Candidate> candidates;
  seen.clear();
  for (int i = 0; i < 2; ++i) {
    if (!collectCandidates(trays[i].get(), trayIds[i], &seen, &candidates)) return false;
  }
  unsigned long removed = 0;
  for (const Candidate& c : candidates) {
    if (removed == needed) break;
    if (storage_->RemoveMessage(c.id)) {
      ++removed;
    } else if (GetOxMiddleError() != OXMDL_ERR_STG_MESSAGE_OPEN) {
      return false;
    }
  }
  *missing = needed - removed;
  if (removed == needed) {
    *missing = removed;
    return true;
  }
  return false;
}

}  // namespace oxm
