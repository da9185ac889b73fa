#include "store/entryindex.h"

#include <cstring>
#include <vector>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "frame/scope_guard.h"
#include "store/batch.h"
#include "store/storefile.h"

namespace oxm {

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// scanf's "%0NX" inside [at, end): blanks, then one to `width` hex digits.
bool scanHex(const std::string& s, size_t* at, size_t end, size_t width, unsigned long* v) {
  while (*at < end && isBlank(s[*at])) ++*at;
  size_t start = *at;
  unsigned long n = 0;
  while (*at < end && *at - start < width && isHex(s[*at])) {
    char c = s[*at];
    n = n * 16 + static_cast<unsigned long>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    ++*at;
  }
  *v = n;
  return *at > start;
}

}  // namespace

EntryIndex::EntryIndex(std::wstring dataDir) : dataDir_(std::move(dataDir)) {}

unsigned parseEntryList(const std::string& text, unsigned long low, uint32_t* words) {
  for (size_t step = 0; step < text.size(); step += 9) {
    const size_t end = std::min(step + 9, text.size());
    size_t at = step;
    unsigned long high = 0;
    unsigned long folder = 0;
    if (!scanHex(text, &at, end, 2, &high) || !scanHex(text, &at, end, 4, &folder)) {
      return OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY;
    }
    words[(high & 0xFF) << 8 | low] = static_cast<uint32_t>(folder);
  }
  return OXMDL_ERR_NONE;
}

unsigned EntryIndex::open() {
  MutexLock lock(mutex_);
  close();
  const std::wstring p = path();
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (!file_.open(p, access, share, OPEN_EXISTING)) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
    unsigned code = rebuild();
    if (code != OXMDL_ERR_NONE) return code;
    if (!file_.open(p, access, share, OPEN_EXISTING)) return OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
  }
  uint64_t size = 0;
  if (!file_.size(&size)) {
    file_.close();
    return OXMDL_ERR_STG_FILEIO_FILE_READ_ENTRY;
  }
  if (size != kEntryIndexBytes) {
    file_.close();
    return OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY;
  }
  if (!map_.map(file_, kEntryIndexBytes)) {
    file_.close();
    return OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
  }
  return OXMDL_ERR_NONE;
}

void EntryIndex::close() {
  MutexLock lock(mutex_);
  map_.unmap();
  file_.close();
}

uint32_t EntryIndex::owner(unsigned long id) {
  if (id > kMaxId || !map_.isMapped()) return kEntryFree;
  // One aligned word: readers need no lock (the recovery scan reads all 65536 of them).
  return __atomic_load_n(&words()[id], __ATOMIC_ACQUIRE);
}

unsigned EntryIndex::change(EntryChange op, unsigned long id, unsigned long folderId) {
  if (id > kMaxId) return OXMDL_ERR_STG_NO_MESSAGE;
  MutexLock lock(mutex_);
  if (!map_.isMapped()) return OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
  uint32_t& word = words()[id];
  if (op == EntryChange::Add && word != kEntryFree) return OXMDL_ERR_STG_ENTRY_USED;
  if (op != EntryChange::Add && word == kEntryFree) return OXMDL_ERR_STG_ENTRY_FREE;
  const uint32_t before = word;
  word = op == EntryChange::Free ? kEntryFree : static_cast<uint32_t>(folderId);
  if (batch::indexFile(path()) == Flush::Now && !map_.flush(id * 4, 4)) {
    word = before;
    return OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY;
  }
  return OXMDL_ERR_NONE;
}

unsigned EntryIndex::assign(const uint32_t* want, size_t* changed) {
  MutexLock lock(mutex_);
  *changed = 0;
  if (!map_.isMapped()) return OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
  uint32_t* w = words();
  for (size_t i = 0; i < kEntryWords; ++i) {
    if (w[i] == want[i]) continue;
    __atomic_store_n(&w[i], want[i], __ATOMIC_RELEASE);
    ++*changed;
  }
  if (*changed > 0 && !map_.flush(0, kEntryIndexBytes)) return OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY;
  return OXMDL_ERR_NONE;
}

unsigned EntryIndex::rebuild() {
  MutexLock lock(mutex_);
  const std::wstring p = path();
  const std::wstring tmp = temporaryPath(p);
  if (fileExists(tmp) && !deleteFileRetrying(tmp)) return OXMDL_ERR_STG_DELTMP_ENTRY;
  unsigned code = requireFreeSpace(dataDir_, kFreeSpaceReserve);
  if (code != OXMDL_ERR_NONE) return code;

  std::vector<std::wstring> lists;
  {
    File f;
    FileMapping m;
    ScopeGuard dropTemporary([&] {
      m.unmap();
      f.close();
      DeleteFileW(tmp);
    });
    if (!f.open(tmp, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS) || !f.truncate(kEntryIndexBytes)) {
      return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY);
    }
    if (!m.map(f, kEntryIndexBytes)) return OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
    uint32_t* w = reinterpret_cast<uint32_t*>(m.data());
    std::memset(w, 0xFF, kEntryIndexBytes);
    for (unsigned long low = 0; low <= 0xFF && code == OXMDL_ERR_NONE; ++low) {
      const std::wstring dir = idDirectory(dataDir_, low);
      const DWORD attributes = GetFileAttributesW(dir);
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      const std::wstring list = dir + L"\\Entry.txt";
      unsigned check = preOpenCheck(list);
      if (check == OXMDL_ERR_STG_PRIM_NOFILE) {
        // A list passed over would leave its messages out of the new index for good: make sure
        // that none of its files is there before going on without it.
        if (fileExists(list) || fileExists(temporaryPath(list)) || fileExists(backupPath(list))) {
          code = OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY;
          break;
        }
        removeDirectoryIfEmpty(dir);
        continue;
      }
      if (check != OXMDL_ERR_NONE) {
        code = fileCode(check, StoreFile::EntryIndex);
        break;
      }
      std::string text;
      code = readSmallFile(list, kEntryListCap, StoreFile::EntryIndex, &text);
      if (code == OXMDL_ERR_NONE) code = parseEntryList(text, low, w);
      if (code == OXMDL_ERR_NONE) lists.push_back(list);
    }
    if (code == OXMDL_ERR_NONE && !m.flush(0, kEntryIndexBytes)) {
      code = diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY);
    }
    if (code != OXMDL_ERR_NONE) return code;
    m.unmap();
    f.close();
    dropTemporary.dismiss();
  }
  if (!moveFileRetrying(tmp, p)) return OXMDL_ERR_STG_COMMIT_ENTRY;
  syncDirectoryOf(p);
  for (const std::wstring& list : lists) DeleteFileW(list);
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
