// Making a new storage directory tree, for account creation (and tests): S\TREE with its
// Status.txt and the root folder's three files, S\DATA with its Status.txt and an empty
// Entry.dat. The four trays are then made through CreateFolder on the root.
#pragma once

#include <string>

namespace oxm {

// `dir` may exist already (empty); TREE or DATA already there is
// OXMDL_ERR_STG_FILEIO_DIR_EXISTS_TREE / _DATA, a directory that cannot be made
// OXMDL_ERR_STG_FILEIO_DIR_CREATE_TREE / _DATA, a full disk OXMDL_ERR_STG_DISK_FULL; the other
// codes are those of the files. On failure what was made stays (like the account directory).
unsigned createStorageTree(const std::wstring& dir);

}  // namespace oxm
