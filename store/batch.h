// Store work done as one batch (an import, a retrieval run, a send run) with fewer flushes.
//
// Inside a batch the message files the batch creates are written unflushed and made durable
// together by commitMessages() (their data and their directory entries): a caller commits before
// it acknowledges them (a retriever before it sends DELE, an importer before it returns). The
// index files (DATA\Status.txt, the folders' message lists and header caches, Entry.dat) are
// written unflushed and flushed once when the batch ends: they are what the repair at open
// (repair.h) rebuilds from the message files. The message lists and DATA\Status.txt are not even
// written while the batch runs: the process keeps their changes in memory (every open of the
// storage in the process shares them) and writes them once at the end, merged with whatever
// another process wrote meanwhile. Another process sees the store as it was before the batch
// until then, and does not take the count that lags behind the entry index for damage. Message files that existed before the batch keep
// their flushed replacement, and before a message file is deleted inside a batch the messages
// made so far are committed, so that moving a message (filed here, deleted there) cannot lose it.
//
// While a batch runs, the storage directory holds "Batch.lock", held open exclusively by it. A
// storage opened while that file is there and nobody holds it was left by a batch that died: the
// open repairs the whole store first, then deletes the file.
#pragma once

#include <string>

#include "frame/safefile.h"

class OxFolderInterface;
class OxStorageInterface;

namespace oxm {

class StoreBatch {
 public:
  // Starts a batch on the storage (null: no batch, every call does nothing). Batches on the same
  // storage nest; the outermost one flushes at its end.
  explicit StoreBatch(OxStorageInterface* storage);
  // The same for the storage the folder belongs to.
  explicit StoreBatch(OxFolderInterface* folder);
  ~StoreBatch();
  StoreBatch(const StoreBatch&) = delete;
  StoreBatch& operator=(const StoreBatch&) = delete;

  // Makes the messages created so far durable. OXMDL_ERR_STG_FILEIO_FILE_WRITE_EML when one
  // cannot be flushed.
  unsigned commitMessages();
  // Commits the messages, flushes the index files and ends the batch (the destructor does it
  // when not called). The first failure's code; the lock file then stays, so that the next open
  // repairs what may not have reached the disk.
  unsigned finish();

 private:
  void start(const std::wstring& storageDir);

  std::wstring dir_;
  bool open_ = false;
};

// How the store's writers flush a file of a storage, given its path.
namespace batch {

// An index file: Deferred inside a batch (the file is flushed at its end), else Now.
Flush indexFile(const std::wstring& path);
// A message file: Deferred when a batch created it (its commit flushes the file and its
// directory entry, or only the entry when `dataFlushed`), else Now.
Flush messageFile(const std::wstring& path, bool dataFlushed = false);
// Whether the writer of an index file keeps its change in memory for the batch's end (a batch of
// this process runs on the storage and is not ending).
bool defers(const std::wstring& path);
// A message file a batch just created (in a directory it made when `newDirectory`).
void createdMessage(const std::wstring& path, bool newDirectory);
// Before a message file is deleted: a batch commits the messages it made.
void beforeMessageDelete(const std::wstring& path);
// Whether a batch runs on the storage (its lock file is there and held).
bool running(const std::wstring& storageDir);
// At open: true when `storageDir` holds the lock file of a batch that died.
bool leftBehind(const std::wstring& storageDir);
// After the repair of such a storage.
void clearLeftBehind(const std::wstring& storageDir);

}  // namespace batch

}  // namespace oxm
