#include "accounts/tree.h"

#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "platform/fs.h"

namespace oxm {

unsigned removeTree(const std::wstring& dir, const TreeCodes& codes) {
  // A link (or a file) goes as itself: what a link points to is not part of this tree, and is
  // never listed. DeleteFileW refuses a real directory.
  if (DeleteFileW(dir)) return OXMDL_ERR_NONE;
  DWORD e = GetLastError();
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return OXMDL_ERR_NONE;
  unsigned result = OXMDL_ERR_NONE;
  auto keep = [&result](unsigned code) {
    if (result == OXMDL_ERR_NONE) result = code;
  };
  {
    FindFile find;
    FindData entry;
    bool more = find.first(joinPath(dir, L"*.*"), &entry);
    if (!more && GetLastError() != ERROR_FILE_NOT_FOUND) keep(codes.find);
    while (more) {
      const std::wstring path = joinPath(dir, entry.name);
      if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        unsigned code = removeTree(path, codes);
        if (code != OXMDL_ERR_NONE) keep(code);
      } else if (!DeleteFileW(path)) {
        keep(codes.deleteFile);
      }
      more = find.next(&entry);
      if (!more && GetLastError() != ERROR_NO_MORE_FILES) keep(codes.find);
    }
  }  // the listing is closed before its directory goes
  if (!RemoveDirectoryW(dir)) keep(codes.removeDirectory);
  return result;
}

bool makeNewDirectory(const std::wstring& path) {
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  return CreateDirectoryW(path);
}

}  // namespace oxm
