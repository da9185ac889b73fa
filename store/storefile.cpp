#include "store/storefile.h"

#include <cstdio>
#include <new>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/fs.h"

namespace oxm {

namespace {

struct KindCodes {
  unsigned formatIllegal;
  unsigned open;
  unsigned write;
  unsigned read;
  unsigned firstOutcome;  // the code BACKUP would have; the next five follow it
};

// The store file rows of the code table, in StoreFile order.
constexpr KindCodes kCodes[] = {
    {0, OXMDL_ERR_STG_FILEIO_FILE_OPEN_TREESTS, OXMDL_ERR_STG_FILEIO_FILE_WRITE_TREESTS,
     OXMDL_ERR_STG_FILEIO_FILE_READ_TREESTS, OXMDL_ERR_STG_DELTMP_TREESTS - 3},
    {0, OXMDL_ERR_STG_FILEIO_FILE_OPEN_DATASTS, OXMDL_ERR_STG_FILEIO_FILE_WRITE_DATASTS,
     OXMDL_ERR_STG_FILEIO_FILE_READ_DATASTS, OXMDL_ERR_STG_BACKUP_DATASTS},
    {OXMDL_ERR_STG_FILE_FMTILLGL_MSG, OXMDL_ERR_STG_FILEIO_FILE_OPEN_MSG,
     OXMDL_ERR_STG_FILEIO_FILE_WRITE_MSG, OXMDL_ERR_STG_FILEIO_FILE_READ_MSG, OXMDL_ERR_STG_BACKUP_MSG},
    {OXMDL_ERR_STG_FILE_FMTILLGL_FLD, OXMDL_ERR_STG_FILEIO_FILE_OPEN_FLD,
     OXMDL_ERR_STG_FILEIO_FILE_WRITE_FLD, OXMDL_ERR_STG_FILEIO_FILE_READ_FLD, OXMDL_ERR_STG_BACKUP_FLD},
    {OXMDL_ERR_STG_FILE_FMTILLGL_FDB, OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB,
     OXMDL_ERR_STG_FILEIO_FILE_WRITE_FDB, OXMDL_ERR_STG_FILEIO_FILE_READ_FDB, OXMDL_ERR_STG_BACKUP_FDB},
    {OXMDL_ERR_STG_FILE_FMTILLGL_EML, OXMDL_ERR_STG_FILEIO_FILE_OPEN_EML,
     OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML, OXMDL_ERR_STG_FILEIO_FILE_READ_EML, OXMDL_ERR_STG_DELBAK_EML - 1},
    {OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY, OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY,
     OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY, OXMDL_ERR_STG_FILEIO_FILE_READ_ENTRY,
     OXMDL_ERR_STG_DELBAK_ENTRY - 1},
};

const KindCodes& codes(StoreFile kind) { return kCodes[static_cast<int>(kind)]; }

std::wstring hex2(unsigned long v) {
  wchar_t buf[4];
  std::swprintf(buf, 4, L"%02lX", v & 0xFF);
  return buf;
}

}  // namespace

unsigned fileCode(unsigned primCode, StoreFile kind) {
  const KindCodes& c = codes(kind);
  switch (primCode) {
    case OXMDL_ERR_STG_PRIM_OPEN: return c.open;
    case OXMDL_ERR_STG_PRIM_WRITE: return c.write;
    case OXMDL_ERR_STG_PRIM_READ: return c.read;
    default: return moduleCode(primCode, c.firstOutcome);
  }
}

unsigned formatIllegalCode(StoreFile kind) { return codes(kind).formatIllegal; }

std::wstring idDirectory(const std::wstring& base, unsigned long id) {
  return base + L"\\" + hex2(id);
}

std::wstring idPath(const std::wstring& base, unsigned long id, const wchar_t* ext) {
  return idDirectory(base, id) + L"\\" + hex2(id >> 8) + ext;
}

unsigned requireFreeSpace(const std::wstring& path, uint64_t minimum) {
  uint64_t free = 0;
  if (!GetDiskFreeSpaceExW(path, &free) || free < minimum) return OXMDL_ERR_STG_DISK_FULL;
  return OXMDL_ERR_NONE;
}

unsigned readSmallFile(const std::wstring& path, size_t cap, StoreFile kind, std::string* out) {
  const KindCodes& c = codes(kind);
  File f;
  if (!f.openStream(path, "rb")) return diskFullOr(c.open);
  uint64_t size = 0;
  if (!f.size(&size)) return c.read;
  if (size > cap) return c.formatIllegal ? c.formatIllegal : c.read;
  std::string buf;
  try {
    buf.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  if (!f.readAll(buf.data(), buf.size())) return c.read;
  *out = std::move(buf);
  return OXMDL_ERR_NONE;
}

unsigned ensureDirectory(const std::wstring& dir, unsigned failCode, bool* made) {
  *made = false;
  const DWORD attributes = GetFileAttributesW(dir);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return OXMDL_ERR_NONE;
  }
  if (CreateDirectoryW(dir)) {
    *made = true;
    return OXMDL_ERR_NONE;
  }
  // Another process may have made it meanwhile.
  if (GetLastError() == ERROR_ALREADY_EXISTS) return OXMDL_ERR_NONE;
  return diskFullOr(failCode);
}

void removeDirectoryIfEmpty(const std::wstring& dir) { RemoveDirectoryW(dir); }

bool fileExists(const std::wstring& path) {
  if (nothingAt(path)) return false;  // one look for the usual answer
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace oxm
