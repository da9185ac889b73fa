// The message entry index, DATA\Entry.dat: 65536 little-endian words, word N the folder that
// owns message N or 0xFFFFFFFF when N is free. It stays mapped (shared) while the storage is
// open, so every process that has the storage open sees each change at once; each change writes
// one word and flushes it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fs.h"
#include "platform/mapping.h"
#include "platform/mutex.h"

namespace oxm {

inline constexpr size_t kEntryWords = 65536;
inline constexpr size_t kEntryIndexBytes = kEntryWords * 4;
inline constexpr uint32_t kEntryFree = 0xFFFFFFFFu;
// The older per-directory entry lists hold at most one 9-byte line per message of their
// directory; anything much longer is not one.
inline constexpr size_t kEntryListCap = 64 * 1024;

enum class EntryChange { Add, Change, Free };

// Invariants, under "OxMessageSet MessageEntry Mutex":
// - While open, map_ covers exactly the 262144 bytes of Entry.dat, which file_ holds open with
//   read and write sharing.
// - Every word is kEntryFree or the identifier of the folder owning that message.
class EntryIndex {
 public:
  explicit EntryIndex(std::wstring dataDir);
  EntryIndex(const EntryIndex&) = delete;
  EntryIndex& operator=(const EntryIndex&) = delete;

  // Opens and maps Entry.dat, rebuilding it from the Entry.txt lists when it does not exist.
  // Another open or mapping failure: OXMDL_ERR_STG_FILEIO_FILE_OPEN_ENTRY; a file that is not
  // 262144 bytes long: OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY.
  unsigned open();
  void close();
  bool isOpen() const { return map_.isMapped(); }

  // The owning folder of `id`, kEntryFree when free or beyond the range.
  uint32_t owner(unsigned long id);
  // Above 65535: OXMDL_ERR_STG_NO_MESSAGE; Add needs a free word (OXMDL_ERR_STG_ENTRY_USED),
  // Change and Free a used one (OXMDL_ERR_STG_ENTRY_FREE); a failed flush:
  // OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY (the word is restored).
  unsigned change(EntryChange op, unsigned long id, unsigned long folderId);

  // Sets every word to `words` (65536 of them) and flushes the index once; *changed tells how
  // many differed. A failed flush: OXMDL_ERR_STG_FILEIO_FILE_WRITE_ENTRY.
  unsigned assign(const uint32_t* words, size_t* changed);

  // Makes Entry.dat from the DATA\LL\Entry.txt lists, then deletes them.
  unsigned rebuild();

  NamedMutex& mutex() { return mutex_; }
  std::wstring path() const { return dataDir_ + L"\\Entry.dat"; }

 private:
  uint32_t* words() { return reinterpret_cast<uint32_t*>(map_.data()); }

  const std::wstring dataDir_;
  NamedMutex mutex_{L"OxMessageSet MessageEntry Mutex"};
  File file_;
  FileMapping map_;
};

// Parses one Entry.txt of directory `low` into `words` ("%02X\t%04X\r\n" per 9-byte step: high
// byte, owning folder). A step that does not yield two fields: OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY.
unsigned parseEntryList(const std::string& text, unsigned long low, uint32_t* words);

}  // namespace oxm
