#include "feeds/scratch_file.h"

#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/device.h"
#include "platform/fs.h"

namespace oxm {

unsigned readWholeFile(const std::wstring& path, size_t cap, std::string* out) {
  File f;
  uint64_t size = 0;
  if (!f.openStream(path, "rb") || !f.size(&size)) return OXMDL_ERR_FILE_OPEN;
  if (size > cap) return OXMDL_ERR_MEM_SHORTAGE;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!f.readAll(bytes.data(), bytes.size())) return OXMDL_ERR_FILE_OPEN;
  *out = std::move(bytes);
  return OXMDL_ERR_NONE;
}

unsigned writeWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring name = lastComponent(path);
  if (name.size() < path.size()) OxCreateDeviceDirectory(path.substr(0, path.size() - name.size()));
  unsigned code = writeTemporary(path, bytes.data(), bytes.size());
  if (code == OXMDL_ERR_STG_PRIM_OPEN) return OXMDL_ERR_FILE_OPEN;
  if (code != OXMDL_ERR_NONE) return OXMDL_ERR_FILE_DISK_FULL;
  if (!deleteAndRenameRetrying(path, temporaryPath(path))) {
    deleteFileRetrying(temporaryPath(path));
    return OXMDL_ERR_FILE_OPEN;
  }
  syncDirectoryOf(path);
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
