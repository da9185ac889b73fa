#include "store/storage_tree.h"

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "platform/fs.h"
#include "store/entryindex.h"
#include "store/folder.h"
#include "store/idtraits.h"
#include "store/storefile.h"

namespace oxm {

namespace {

unsigned makeDirectory(const std::wstring& dir, unsigned existsCode, unsigned failCode) {
  if (CreateDirectoryW(dir)) return OXMDL_ERR_NONE;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return existsCode;
  return diskFullOr(failCode);
}

unsigned writeStatus(const std::wstring& base, unsigned long next, unsigned long count, StoreFile kind) {
  const std::string text = OxIdTraits::statusText(next, count);
  return fileCode(replaceFile(base + L"\\Status.txt", text.data(), text.size()), kind);
}

}  // namespace

unsigned createStorageTree(const std::wstring& dir) {
  bool made = false;
  unsigned code = ensureDirectory(dir, OXMDL_ERR_STG_FILEIO_DIR_CREATE_TREE, &made);
  if (code != OXMDL_ERR_NONE) return code;
  const std::wstring tree = dir + L"\\TREE";
  const std::wstring data = dir + L"\\DATA";
  code = makeDirectory(tree, OXMDL_ERR_STG_FILEIO_DIR_EXISTS_TREE, OXMDL_ERR_STG_FILEIO_DIR_CREATE_TREE);
  if (code != OXMDL_ERR_NONE) return code;
  // The root is folder 0, the first identifier taken: the allocator goes on at 1 with one folder.
  code = OrdinaryFolder::createFiles(tree, kRootFolder);
  if (code == OXMDL_ERR_NONE) code = writeStatus(tree, 1, 1, StoreFile::TreeStatus);
  if (code != OXMDL_ERR_NONE) return code;
  code = makeDirectory(data, OXMDL_ERR_STG_FILEIO_DIR_EXISTS_DATA, OXMDL_ERR_STG_FILEIO_DIR_CREATE_DATA);
  if (code == OXMDL_ERR_NONE) code = writeStatus(data, 0, 0, StoreFile::DataStatus);
  if (code != OXMDL_ERR_NONE) return code;
  EntryIndex entries(data);
  return entries.rebuild();
}

}  // namespace oxm
