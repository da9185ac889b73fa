// Repair of a storage's indexes from what is certain: the entry index says which folder owns
// each message, the message files hold the flags and the text. Message lists and header caches
// are rebuilt from them.
#pragma once

namespace oxm {

class OxStorage;

// Rebuilds a folder's header cache from its message list and message files (needs the codec).
// With `changed`, a cache that already holds exactly those records is not rewritten.
unsigned restoreFolderMessageHeader(OxStorage& storage, unsigned long folderId, bool* changed = nullptr);
// Scans the entry index (message files that cannot be used leave the index and move into
// S\Quarantine), rewrites the folder's message list from the messages it owns, in identifier
// order, then rebuilds its header cache. The whole store is repaired by repairStorage (repair.h).
unsigned recoverMessageEntry(OxStorage& storage, unsigned long folderId);
// The failures that recovery mends: a damaged header cache or message file, a header cache
// that disagrees with its list.
bool wantsRecovery(unsigned long code);

}  // namespace oxm
