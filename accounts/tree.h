// Removing a directory with everything in it. Each layer that owns a kind of directory reports
// the failures with its own three codes.
#pragma once

#include <string>

namespace oxm {

struct TreeCodes {
  unsigned find;             // a directory could not be listed
  unsigned deleteFile;       // a file could not be deleted
  unsigned removeDirectory;  // a directory could not be removed
};

// Lists `dir` ("*.*"), removes its subdirectories the same way and deletes its files, then
// removes `dir` itself. A failure does not stop the removal of the rest; the first one met is
// the result. A directory that does not exist is already removed: OXMDL_ERR_NONE. A link is
// removed as a link, never followed, so nothing outside the tree is touched.
unsigned removeTree(const std::wstring& dir, const TreeCodes& codes);

// Creates `path` as a new directory: false when it exists already (as anything) or cannot be
// made, with the platform's error set.
bool makeNewDirectory(const std::wstring& path);

}  // namespace oxm
