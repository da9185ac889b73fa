#include "store/repair.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "frame/diag.h"
#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/folder.h"
#include "store/folderset.h"
#include "store/headercache.h"
#include "store/message_codec.h"
#include "store/messagefile.h"
#include "store/messageset.h"
#include "store/recovery.h"
#include "store/storage.h"
#include "store/storefile.h"
#include "store/timeshift.h"

namespace oxm {

namespace {

constexpr unsigned long kNoFolder = ~0ul;
// Message files larger than this are not read whole to rebuild a header; they are moved aside.
constexpr uint64_t kRepairTextCap = 256u << 20;

bool hexByte(const std::wstring& s, size_t at, unsigned long* v) {
  unsigned long n = 0;
  for (size_t i = at; i < at + 2; ++i) {
    if (i >= s.size()) return false;
    const wchar_t c = s[i];
    if (c >= L'0' && c <= L'9') {
      n = n * 16 + static_cast<unsigned long>(c - L'0');
    } else if (c >= L'A' && c <= L'F') {
      n = n * 16 + static_cast<unsigned long>(c - L'A' + 10);
    } else {
      return false;
    }
  }
  *v = n;
  return true;
}

// Whether a listing ended because there was nothing more, rather than failing.
bool listingEnded() {
  const DWORD e = GetLastError();
  return e == ERROR_NO_MORE_FILES || e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

// The identifiers whose "HH<ext>" (or its _tmp / _bak) lies in base\LL, for every LL. A listing
// that fails is an error: a file passed over would be taken for lost.
unsigned idsWithFiles(const std::wstring& base, const std::vector<std::wstring>& exts, unsigned failCode,
                      std::set<unsigned long>* ids) {
  FindFile dirs;
  FindData d;
  bool more = dirs.first(base + L"\\*", &d);
  for (; more; more = dirs.next(&d)) {
    unsigned long low = 0;
    if (!(d.attributes & FILE_ATTRIBUTE_DIRECTORY) || d.name.size() != 2 || !hexByte(d.name, 0, &low)) continue;
    FindFile files;
    FindData f;
    bool more2 = files.first(base + L"\\" + d.name + L"\\*", &f);
    for (; more2; more2 = files.next(&f)) {
      unsigned long high = 0;
      if (f.name.size() < 3 || !hexByte(f.name, 0, &high)) continue;
      std::wstring rest = f.name.substr(2);
      for (const wchar_t* suffix : {L"_tmp", L"_bak"}) {
        const std::wstring sfx = suffix;
        if (rest.size() > sfx.size() && rest.compare(rest.size() - sfx.size(), sfx.size(), sfx) == 0) {
          rest.resize(rest.size() - sfx.size());
        }
      }
      if (std::find(exts.begin(), exts.end(), rest) != exts.end()) ids->insert(high << 8 | low);
    }
    if (!listingEnded()) return failCode;
  }
  return listingEnded() ? OXMDL_ERR_NONE : failCode;
}

std::wstring hex4(unsigned long id) {
  wchar_t buf[8];
  std::swprintf(buf, 8, L"%04lX", id & 0xFFFF);
  return buf;
}

unsigned readWhole(const std::wstring& path, uint64_t cap, std::string* out) {
  File f;
  if (!f.openStream(path, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
  uint64_t size = 0;
  if (!f.size(&size)) return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
  if (size > cap) return OXMDL_ERR_STG_FILE_FMTILLGL_EML;
  try {
    out->resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  if (size > 0 && !f.readAll(out->data(), out->size())) return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
  return OXMDL_ERR_NONE;
}

// One repair run. The caller holds every store lock (see repairStorage).
class Repair {
 public:
  Repair(OxStorage& storage, RecoveryReport* report)
      : storage_(storage),
        messages_(storage.messages()),
        tree_(storage.folders().treeDir()),
        data_(messages_.dataDir()),
        report_(*report) {}

  unsigned run(unsigned long fallback);

 private:
  struct Folder {
    std::vector<ChildEntry> children;
    bool childrenChanged = false;
    std::vector<MessageLine> lines;  // as read (a damaged list: the lines that still parse)
    bool listIntact = false;
    std::vector<unsigned long> cached;  // the header cache's live identifiers
  };
  struct Mail {
    bool unread = false;
    bool partial = false;
  };

  unsigned repairTree();
  unsigned readChildren(unsigned long id, Folder* f);
  unsigned attach(unsigned long id, std::set<unsigned long>* reached, std::vector<unsigned long>* order);
  unsigned writeTree();
  unsigned readLists();
  unsigned repairMessageFiles();
  unsigned checkMessage(unsigned long id);
  unsigned rebuildHeader(unsigned long id, const std::string& file);
  unsigned moveAside(unsigned long id);
  unsigned placeMessages(unsigned long fallback);
  unsigned writeLists();
  unsigned writeIndex();
  unsigned writeCounts();
  unsigned repairCaches();

  OxStorage& storage_;
  MessageSet& messages_;
  const std::wstring& tree_;
  const std::wstring& data_;
  RecoveryReport& report_;
  std::set<unsigned long> existing_;        // folders with any of their files
  std::map<unsigned long, Folder> folders_;  // the folders of the tree, reached from the root
  std::vector<unsigned long> order_;         // tree order, root first
  std::map<unsigned long, Mail> mails_;      // the usable messages
  std::map<unsigned long, unsigned long> owner_;
  std::map<unsigned long, std::vector<MessageLine>> newLines_;
};

// A missing list is written anew (empty), an oversized or damaged one keeps the lines that still
// parse on their own; a list that cannot be read is an error, not an empty list.
unsigned Repair::readChildren(unsigned long id, Folder* f) {
  const std::wstring fld = OrdinaryFolder::childListPath(tree_, id);
  std::string text;
  unsigned code = preOpenCheck(fld);
  if (code == OXMDL_ERR_STG_PRIM_NOFILE) {
    f->childrenChanged = true;
    return OXMDL_ERR_NONE;
  }
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::ChildList);
  code = readSmallFile(fld, kChildListCap, StoreFile::ChildList, &text);
  if (code == OXMDL_ERR_STG_FILE_FMTILLGL_FLD) {
    f->childrenChanged = true;
    return OXMDL_ERR_NONE;
  }
  if (code != OXMDL_ERR_NONE) return code;
  if (parseChildList(text, &f->children) == OXMDL_ERR_NONE) return OXMDL_ERR_NONE;
  // A damaged list keeps the lines that still parse on their own.
  f->children.clear();
  f->childrenChanged = true;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::vector<ChildEntry> one;
    if (parseChildList(text.substr(at, end - at), &one) == OXMDL_ERR_NONE) {
      f->children.insert(f->children.end(), one.begin(), one.end());
    }
    at = end;
  }
  return OXMDL_ERR_NONE;
}

// Walks the subtree of `id` (already in *reached): children that have no files, that were met
// before (a loop) or that name the root are dropped from their lists.
unsigned Repair::attach(unsigned long id, std::set<unsigned long>* reached, std::vector<unsigned long>* order) {
  std::vector<unsigned long> pending{id};
  while (!pending.empty()) {
    const unsigned long at = pending.back();
    pending.pop_back();
    order->push_back(at);
    Folder& f = folders_[at];
    unsigned code = readChildren(at, &f);
    if (code != OXMDL_ERR_NONE) return code;
    std::vector<ChildEntry> kept;
    for (const ChildEntry& c : f.children) {
      if (c.id == kRootFolder || !existing_.count(c.id) || reached->count(c.id)) {
        f.childrenChanged = true;
        continue;
      }
      reached->insert(c.id);
      kept.push_back(c);
    }
    std::sort(kept.begin(), kept.end(), [](const ChildEntry& a, const ChildEntry& b) { return a.id < b.id; });
    f.children = kept;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) pending.push_back(it->id);
  }
  return OXMDL_ERR_NONE;
}

unsigned Repair::repairTree() {
  unsigned code = idsWithFiles(tree_, {L".fld", L".msg", L".fdb"}, OXMDL_ERR_STG_FILEIO_FILE_OPEN_FLD, &existing_);
  if (code != OXMDL_ERR_NONE) return code;
  existing_.insert(kRootFolder);
  for (unsigned long id : existing_) {
    for (const std::wstring& path : {OrdinaryFolder::childListPath(tree_, id), OrdinaryFolder::messageListPath(tree_, id),
                                     OrdinaryFolder::headerCachePath(tree_, id)}) {
      code = preOpenCheck(path);
      if (code != OXMDL_ERR_NONE && code != OXMDL_ERR_STG_PRIM_NOFILE) return fileCode(code, StoreFile::ChildList);
    }
  }
  std::set<unsigned long> reached{kRootFolder};
  code = attach(kRootFolder, &reached, &order_);
  if (code != OXMDL_ERR_NONE) return code;
  // Folders that no list names (their parent's list was damaged) go back under the root, the
  // tops of lost subtrees first so that each keeps its own children.
  std::set<unsigned long> lost;
  for (unsigned long id : existing_) {
    if (!reached.count(id)) lost.insert(id);
  }
  std::set<unsigned long> named;
  for (unsigned long id : lost) {
    Folder probe;
    code = readChildren(id, &probe);
    if (code != OXMDL_ERR_NONE) return code;
    for (const ChildEntry& c : probe.children) {
      if (c.id != id) named.insert(c.id);
    }
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (unsigned long id : lost) {
      if (reached.count(id) || (pass == 0 && named.count(id))) continue;
      reached.insert(id);
      folders_[kRootFolder].children.push_back({id, L"Recovered " + hex4(id)});
      folders_[kRootFolder].childrenChanged = true;
      ++report_.folders;
      code = attach(id, &reached, &order_);
      if (code != OXMDL_ERR_NONE) return code;
    }
  }
  auto& rootChildren = folders_[kRootFolder].children;
  std::sort(rootChildren.begin(), rootChildren.end(), [](const ChildEntry& a, const ChildEntry& b) { return a.id < b.id; });
  return writeTree();
}

unsigned Repair::writeTree() {
  for (unsigned long id : order_) {
    Folder& f = folders_[id];
    if (f.childrenChanged) {
      std::string text;
      unsigned code = formatChildList(f.children, &text);
      if (code == OXMDL_ERR_NONE) code = fileCode(replaceFile(OrdinaryFolder::childListPath(tree_, id), text.data(), text.size()), StoreFile::ChildList);
      if (code != OXMDL_ERR_NONE) return code;
      ++report_.rebuilt;
    }
    // A folder that lost its message list or header cache gets empty ones, filled below.
    const std::wstring msg = OrdinaryFolder::messageListPath(tree_, id);
    if (!fileExists(msg)) {
      unsigned code = fileCode(replaceFile(msg, "", 0), StoreFile::MessageList);
      if (code != OXMDL_ERR_NONE) return code;
    }
    const std::wstring fdb = OrdinaryFolder::headerCachePath(tree_, id);
    if (!fileExists(fdb)) {
      unsigned code = HeaderCache::createEmpty(fdb);
      if (code != OXMDL_ERR_NONE) return code;
    }
  }
  OxIdTraits& ids = storage_.folders().ids();
  const long delta = static_cast<long>(order_.size()) - static_cast<long>(ids.count());
  if (delta != 0) {
    unsigned code = ids.changeCount(delta);
    if (code != OXMDL_ERR_NONE) return code;
    ++report_.rebuilt;
  }
  return OXMDL_ERR_NONE;
}

// A damaged list keeps the lines that still parse on their own, and counts less than an intact
// one when two lists claim a message.
unsigned Repair::readLists() {
  for (unsigned long id : order_) {
    Folder& f = folders_[id];
    const std::wstring msg = OrdinaryFolder::messageListPath(tree_, id);
    std::string text;
    unsigned code = readSmallFile(msg, kMessageListCap, StoreFile::MessageList, &text);
    if (code == OXMDL_ERR_STG_FILE_FMTILLGL_MSG) continue;
    if (code != OXMDL_ERR_NONE) return code;
    f.listIntact = parseMessageList(text, &f.lines) == OXMDL_ERR_NONE;
    if (!f.listIntact) {
      f.lines.clear();
      size_t at = 0;
      while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::vector<MessageLine> one;
        if (parseMessageList(text.substr(at, end - at), &one) == OXMDL_ERR_NONE) {
          f.lines.insert(f.lines.end(), one.begin(), one.end());
        }
        at = end;
      }
    }
    HeaderCache cache(OrdinaryFolder::headerCachePath(tree_, id));
    if (cache.load() == OXMDL_ERR_NONE) f.cached = cache.liveIds();
  }
  return OXMDL_ERR_NONE;
}

unsigned Repair::moveAside(unsigned long id) {
  const std::wstring path = messages_.messagePath(id);
  if (!quarantineFile(storage_.directory(), path, hex4(id) + L".eml")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML);
  ++report_.quarantined;
  NKDbgPrintfW(L"OxStorage::Recover() message %04lX moved aside\r\n", id);
  return OXMDL_ERR_NONE;
}

// A damaged header is made again as an import makes it: unread, the attachment flag and the
// date from the text, numeric attribute 4. Flags that a message list still records win.
unsigned Repair::rebuildHeader(unsigned long id, const std::string& file) {
  const std::string text = file.substr(kMessageHeaderBytes);
  MessageFileHeader h = newMessageHeader();
  h.flags[OxMessageInterface::FLAG_UNREAD] = 1;
  h.numericAttribute = 4;
  MessageCodec* codec = messageCodec();
  MessageFields fields;
  if (codec && codec->decodeFields(text, &fields) == OXMDL_ERR_NONE) {
    h.flags[OxMessageInterface::FLAG_ATTACHMENT] = fields.hasEnclosures ? 1 : 0;
    if (fields.localDate.wYear != 0) h.time = localToUtc(fields.localDate);
  }
  for (auto& [folderId, f] : folders_) {
    for (const MessageLine& l : f.lines) {
      if (l.id != id) continue;
      h.flags[OxMessageInterface::FLAG_UNREAD] = l.unread ? 1 : 0;
      h.flags[OxMessageInterface::FLAG_PARTIAL] = l.partial ? 1 : 0;
    }
  }
  std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
  bytes += text;
  const unsigned code = replaceFile(messages_.messagePath(id), bytes.data(), bytes.size());
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::MessageFile);
  mails_[id] = {h.flags[OxMessageInterface::FLAG_UNREAD] != 0, h.flags[OxMessageInterface::FLAG_PARTIAL] != 0};
  ++report_.repaired;
  NKDbgPrintfW(L"OxStorage::Recover() message %04lX header rebuilt\r\n", id);
  return OXMDL_ERR_NONE;
}

unsigned Repair::checkMessage(unsigned long id) {
  const std::wstring path = messages_.messagePath(id);
  unsigned code = preOpenCheck(path);
  if (code == OXMDL_ERR_STG_PRIM_NOFILE) return OXMDL_ERR_NONE;
  if (code != OXMDL_ERR_NONE) return fileCode(code, StoreFile::MessageFile);
  uint64_t size = 0;
  if (!GetFileSize(path, &size)) return OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML;
  if (size == 0) {
    // Nothing in it to keep.
    if (!deleteFileRetrying(path)) return OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML;
    ++report_.removed;
    return OXMDL_ERR_NONE;
  }
  MessageFileHeader h{};
  if (size >= kMessageHeaderBytes) {
    File f;
    if (!f.openStream(path, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML);
    if (!f.readAll(&h, sizeof h)) return OXMDL_ERR_STG_FILEIO_FILE_READ_EML;
  }
  const bool intact = size >= kMessageHeaderBytes && hasMagic(h) && knownVersion(h);
  if (intact && size == kMessageHeaderBytes) {
    // Created, but the text never came: not a message anyone sent.
    if (!deleteFileRetrying(path)) return OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML;
    ++report_.removed;
    NKDbgPrintfW(L"OxStorage::Recover() message %04lX had no text, removed\r\n", id);
    return OXMDL_ERR_NONE;
  }
  if (intact) {
    mails_[id] = {h.flags[OxMessageInterface::FLAG_UNREAD] != 0, h.flags[OxMessageInterface::FLAG_PARTIAL] != 0};
    return OXMDL_ERR_NONE;
  }
  std::string file;
  if (size > kMessageHeaderBytes && size <= kRepairTextCap) {
    code = readWhole(path, kRepairTextCap, &file);
    if (code != OXMDL_ERR_NONE) return code;
  }
  if (file.size() > kMessageHeaderBytes && looksLikeMessageText(file.substr(kMessageHeaderBytes, 1024))) {
    return rebuildHeader(id, file);
  }
  return moveAside(id);
}

unsigned Repair::repairMessageFiles() {
  std::set<unsigned long> files;
  unsigned code = idsWithFiles(data_, {L".eml"}, OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML, &files);
  if (code != OXMDL_ERR_NONE) return code;
  for (unsigned long id : files) {
    code = checkMessage(id);
    if (code != OXMDL_ERR_NONE) return code;
    if (!mails_.count(id)) removeDirectoryIfEmpty(idDirectory(data_, id));
  }
  return OXMDL_ERR_NONE;
}

// Each usable message gets exactly one folder: a list that holds it (an intact list before a
// damaged one, the one its entry names among several), else its entry's folder, else a header
// cache that holds it, else the fallback.
unsigned Repair::placeMessages(unsigned long fallback) {
  if (!folders_.count(fallback)) fallback = kRootFolder;
  for (const auto& [id, mail] : mails_) {
    const uint32_t entry = messages_.entries().owner(id);
    const bool entryIsFolder = entry != kEntryFree && folders_.count(entry);
    unsigned long chosen = kNoFolder;
    for (int intactPass = 1; intactPass >= 0 && chosen == kNoFolder; --intactPass) {
      for (unsigned long fid : order_) {
        const Folder& f = folders_[fid];
        if (f.listIntact != (intactPass == 1)) continue;
        const bool holds = std::any_of(f.lines.begin(), f.lines.end(), [&](const MessageLine& l) { return l.id == id; });
        if (!holds) continue;
        if (chosen == kNoFolder || (entryIsFolder && fid == entry)) chosen = fid;
      }
    }
    if (chosen == kNoFolder && entryIsFolder) chosen = entry;
    for (unsigned long fid : order_) {
      if (chosen != kNoFolder) break;
      const Folder& f = folders_[fid];
      if (std::find(f.cached.begin(), f.cached.end(), id) != f.cached.end()) chosen = fid;
    }
    if (chosen == kNoFolder) chosen = fallback;
    owner_[id] = chosen;
  }
  // The lists: the lines kept in their order, then the messages that come back, by identifier.
  for (unsigned long fid : order_) {
    std::vector<MessageLine>& out = newLines_[fid];
    std::set<unsigned long> seen;
    for (const MessageLine& l : folders_[fid].lines) {
      auto it = owner_.find(l.id);
      if (it == owner_.end() || it->second != fid || !seen.insert(l.id).second) continue;
      out.push_back({l.id, mails_[l.id].unread, mails_[l.id].partial});
    }
  }
  for (const auto& [id, fid] : owner_) {
    std::vector<MessageLine>& out = newLines_[fid];
    if (std::any_of(out.begin(), out.end(), [&](const MessageLine& l) { return l.id == id; })) continue;
    out.push_back({id, mails_[id].unread, mails_[id].partial});
    ++report_.refiled;
    NKDbgPrintfW(L"OxStorage::Recover() message %04lX filed in folder %04lX\r\n", id, fid);
  }
  return OXMDL_ERR_NONE;
}

unsigned Repair::writeLists() {
  for (unsigned long fid : order_) {
    const std::wstring msg = OrdinaryFolder::messageListPath(tree_, fid);
    const std::string want = formatMessageList(newLines_[fid]);
    std::string have;
    if (readSmallFile(msg, kMessageListCap, StoreFile::MessageList, &have) == OXMDL_ERR_NONE && have == want) continue;
    unsigned code = OrdinaryFolder::writeMessageListFile(msg, newLines_[fid]);
    if (code != OXMDL_ERR_NONE) return code;
    ++report_.rebuilt;
  }
  return OXMDL_ERR_NONE;
}

unsigned Repair::writeIndex() {
  std::vector<uint32_t> words(kEntryWords, kEntryFree);
  for (const auto& [id, fid] : owner_) words[id] = static_cast<uint32_t>(fid);
  size_t changed = 0;
  unsigned code = messages_.entries().assign(words.data(), &changed);
  if (code != OXMDL_ERR_NONE) return code;
  if (changed > 0) ++report_.rebuilt;
  return OXMDL_ERR_NONE;
}

unsigned Repair::writeCounts() {
  OxIdTraits& ids = messages_.ids();
  const long delta = static_cast<long>(mails_.size()) - static_cast<long>(ids.count());
  if (delta == 0) return OXMDL_ERR_NONE;
  unsigned code = ids.changeCount(delta);
  if (code == OXMDL_ERR_NONE) ++report_.rebuilt;
  return code;
}

// Every header cache is made again from its list and the message files; one that already held
// exactly that is not rewritten and does not count as a change.
unsigned Repair::repairCaches() {
  for (unsigned long fid : order_) {
    bool changed = false;
    unsigned code = restoreFolderMessageHeader(storage_, fid, &changed);
    if (code != OXMDL_ERR_NONE) return code;
    if (changed) ++report_.rebuilt;
  }
  return OXMDL_ERR_NONE;
}

unsigned Repair::run(unsigned long fallback) {
  unsigned code = repairTree();
  if (code != OXMDL_ERR_NONE) return code;
  code = readLists();
  if (code == OXMDL_ERR_NONE) code = repairMessageFiles();
  if (code == OXMDL_ERR_NONE) code = placeMessages(fallback);
  if (code == OXMDL_ERR_NONE) code = writeLists();
  if (code == OXMDL_ERR_NONE) code = writeIndex();
  if (code == OXMDL_ERR_NONE) code = writeCounts();
  if (code == OXMDL_ERR_NONE) code = repairCaches();
  return code;
}

}  // namespace

bool looksLikeMessageText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] > ' ' && text[i] < 0x7F && text[i] != ':') ++i;
  return i > 0 && i < text.size() && text[i] == ':';
}

bool quarantineFile(const std::wstring& storageDir, const std::wstring& path, const std::wstring& name) {
  const std::wstring dir = storageDir + L"\\Quarantine";
  bool made = false;
  if (ensureDirectory(dir, OXMDL_ERR_STG_FILEIO_DIR_CREATE_DATA, &made) != OXMDL_ERR_NONE) return false;
  const size_t dot = name.rfind(L'.');
  const std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
  const std::wstring ext = dot == std::wstring::npos ? L"" : name.substr(dot);
  for (int n = 0; n < 1000; ++n) {
    const std::wstring target = dir + L"\\" + (n == 0 ? name : stem + L"-" + std::to_wstring(n) + ext);
    if (fileExists(target)) continue;
    if (moveFileRetrying(path, target)) {
      syncDirectoryOf(target);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

unsigned long defaultFallbackFolder(OxStorage& storage) {
  FolderRef root(storage.folders());
  std::vector<unsigned long> ids;
  if (root.acquire(kRootFolder) != OXMDL_ERR_NONE || root.get()->getChildIds(&ids) != OXMDL_ERR_NONE || ids.empty() ||
      isVirtualFolder(ids.front())) {
    return kRootFolder;
  }
  return ids.front();
}

unsigned repairStorage(OxStorage& storage, unsigned long fallbackFolder, RecoveryReport* report) {
  MessageCodec* codec = nullptr;
  unsigned code = requireMessageCodec(&codec);
  if (code != OXMDL_ERR_NONE) return code;
  // The repair reads the files: what a batch of this process holds back goes there first.
  code = storage.writeHeldBack();
  if (code != OXMDL_ERR_NONE) return code;
  // Every lock of the store, in the documented order, for the whole run: no other thread or
  // process sees the store half repaired.
  NamedMutex messageMutex(L"OxMessage Mutex");
  NamedMutex entryMutex(L"OxFolderEntry Mutex");
  NamedMutex listMutex(L"OxMessageEntry Mutex");
  NamedMutex headerMutex(L"OxMessageHeader Mutex");
  MutexLock l1(messageMutex);
  MutexLock l2(storage.folders().mutex());
  MutexLock l3(entryMutex);
  MutexLock l4(listMutex);
  MutexLock l5(headerMutex);
  MutexLock l6(storage.messages().mutex());
  MutexLock l7(storage.messages().ids().mutex());
  MutexLock l8(storage.messages().entries().mutex());
  Repair repair(storage, report);
  code = repair.run(fallbackFolder);
  if (code != OXMDL_ERR_NONE) debugError(L"OxStorage::Recover()", L"repair", code);
  return code;
}

}  // namespace oxm
