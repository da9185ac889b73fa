// Whole-store repair: everything a crash or a damaged file can leave is brought back to one
// consistent store without losing a message whose text survived and without inventing one.
//
// What is trusted, in order: the message files (their text; their header when it is intact),
// the folder tree's files that still parse, the entry index, the header caches. Whatever cannot
// be used is moved aside into S\Quarantine, never deleted; only files that hold nothing (empty,
// or a message created but never written) go.
#pragma once

#include <string>

#include "store/storage_interface.h"

namespace oxm {

class OxStorage;

using RecoveryReport = OxStorageInterface::RecoveryReport;

// Repairs the open storage: the folder tree (child lists naming folders that have no files lose
// those lines; folders no list names go back under the root as "Recovered XXXX"), the message
// files (a damaged header is rebuilt from the text, as an import makes it; a file without
// usable text is moved aside), the message lists, the entry index and both status files, and
// the header caches that no longer match their lists. A message no list holds goes to the folder
// its entry names, else the one whose header cache holds it, else `fallbackFolder` (the root
// when that is not a folder of the tree). Counts of what changed are added to *report.
unsigned repairStorage(OxStorage& storage, unsigned long fallbackFolder, RecoveryReport* report);

// The folder an orphan goes to when nothing else names one: the root's first child (the inbox
// of every storage made by account creation, whose trays are made first, inbox first).
unsigned long defaultFallbackFolder(OxStorage& storage);

// Moves a file that cannot be used into S\Quarantine under its identifier's name ("0A05.eml",
// then "0A05-1.eml", ...). False when it could not be moved (it then stays where it was).
bool quarantineFile(const std::wstring& storageDir, const std::wstring& path, const std::wstring& name);

// Whether text after a damaged header still reads as a message: its first line is a header
// field ("Name: value", a name of printable ASCII without blanks).
bool looksLikeMessageText(const std::string& text);

}  // namespace oxm
