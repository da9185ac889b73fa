// Repair of a storage's indexes from what is certain: the entry index says which folder owns
// each message, the message files hold the flags and the text. Message lists and header caches
// are rebuilt from them.
#pragma once

namespace oxm {

class OxStorage;

// Rebuilds a folder's header cache from its message list and message files (needs the codec).
unsigned restoreFolderMessageHeader(OxStorage& storage, unsigned long folderId);
// Scans the entry index (dropping unusable message files), rewrites the folder's message list
// from the messages it owns, in identifier order, then rebuilds its header cache.
unsigned recoverMessageEntry(OxStorage& storage, unsigned long folderId);
// The same for every folder reachable from the root. A walk stopped by a damaged child list
// leaves its code in *walkCode and recovers the folders found before it.
unsigned recoverMessageEntryAll(OxStorage& storage, unsigned* walkCode);
// The failures that recovery mends: a damaged header cache or message file, a header cache
// that disagrees with its list.
bool wantsRecovery(unsigned long code);

}  // namespace oxm
