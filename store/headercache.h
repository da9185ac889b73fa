// A folder's header cache, TREE\LL\HH.fdb: a slot table of 1000 little-endian words (message
// identifier, 0x8000FFFF deleted, 0xFFFFFFFF unused; used slots first) followed by one
// FolderMsgHeader record of 1180 bytes per used slot, in slot order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/filestamp.h"
#include "platform/fs.h"
#include "store/folder_interface.h"

namespace oxm {

inline constexpr size_t kHeaderSlots = 1000;
inline constexpr size_t kSlotTableBytes = kHeaderSlots * 4;
inline constexpr size_t kHeaderRecordBytes = sizeof(FolderMsgHeader);
inline constexpr uint32_t kSlotUnused = 0xFFFFFFFFu;
inline constexpr uint32_t kSlotDeleted = 0x8000FFFFu;

// The text fields of a header record and their cutting: addresses keep at most 256 UTF-16
// units (a terminator when shorter); a name or subject of 31 units or more keeps 30 and gets
// U+2026 with no terminator.
FolderMsgHeader makeHeaderRecord(unsigned long id, const std::wstring& to, const std::wstring& from,
                                 const std::wstring& fromName, const std::wstring& subject,
                                 const SYSTEMTIME& utcDate);
void setAddressField(char16_t (&field)[256], const std::wstring& text);
void setNameField(char16_t (&field)[31], const std::wstring& text);
// A field up to its terminator or its full width.
std::wstring fieldText(const char16_t* field, size_t width);
// Zeroes the first seven words of a date outside 1901-2099 / 1-12 / weekday 0-6 / day 1-31 /
// hour 0-24 / minute and second 0-60 (the milliseconds stay).
void checkRecordDate(SYSTEMTIME* date);

// The cached slot table of one .fdb and every operation on the file. The caller holds
// "OxMessageHeader Mutex" around each call.
//
// Invariants:
// - slots_[0, records_) are used (an identifier or kSlotDeleted), slots_[records_, 1000) unused;
//   deleted_ counts the kSlotDeleted among them.
// - The file holds at least kSlotTableBytes + records_ * 1180 bytes; its slot table equals
//   slots_ except for deletions not yet compacted (those exist in memory only).
// - stamp_ names the file the table was read from or last written to.
class HeaderCache {
 public:
  explicit HeaderCache(std::wstring path) : path_(std::move(path)) {}

  // Reads the slot table again when the file is not the one last seen (another process changed
  // it). Pre-open check and read codes of the header cache; a table that breaks the invariants
  // or a file too short for its records is OXMDL_ERR_STG_FILE_FMTILLGL_FDB.
  unsigned refresh();
  unsigned load();

  size_t records() const { return records_; }
  size_t deleted() const { return deleted_; }
  size_t live() const { return records_ - deleted_; }
  // The identifiers of the live records, in slot order.
  std::vector<unsigned long> liveIds() const;

  // Writes the records at the end and the new slot table at offset 0, in place.
  // 1000 records already (deleted ones included): OXMDL_ERR_STG_HEADER_FULL.
  unsigned append(const std::vector<FolderMsgHeader>& records);
  // Marks the record of `id` deleted (in memory until the next compaction); none:
  // OXMDL_ERR_STG_NO_HEADER.
  unsigned markDeleted(unsigned long id);
  // Rewrites the file with the live records only (crash-safe); nothing to do without deletions.
  // On a disk too full for the copy, the deletions are written into the slot table in place.
  unsigned compact();
  unsigned readRecord(unsigned long id, FolderMsgHeader* out);
  // Writes the record of out.messageId in place.
  unsigned writeRecord(const FolderMsgHeader& record);
  // LoadMessageHeader's two cases (dates left in UTC).
  unsigned loadRecords(FolderMsgHeader* buf, size_t count);
  // The first `count` live records in slot order; fewer: OXMDL_ERR_STG_FILE_FMTILLGL_FDB.
  unsigned loadFirstLive(FolderMsgHeader* buf, size_t count);
  // The records of `ids`, in that order; one without a record: OXMDL_ERR_STG_NO_HEADER.
  unsigned loadListed(const std::vector<unsigned long>& ids, FolderMsgHeader* buf);
  // Replaces the file by the given records (crash-safe). More than 1000:
  // OXMDL_ERR_STG_FOLDER_FULL. With `changed`, a file that already holds exactly that is left
  // alone and *changed tells whether it was rewritten.
  unsigned rebuild(const std::vector<FolderMsgHeader>& records, bool* changed = nullptr);
  // A new folder's file: the slot table alone, every slot unused (not crash-safe: the file is
  // new). Open and write codes of the header cache.
  static unsigned createEmpty(const std::wstring& path);

 private:
  int slotOf(unsigned long id) const;
  unsigned markDeletedInPlace();
  unsigned readRecordArea(std::string* area);
  void takeStamp() { stamp_.take(path_); }
  // Flushes a write in place, unless a batch flushes the file at its end.
  bool flushed(File& f);

  const std::wstring path_;
  std::array<uint32_t, kHeaderSlots> slots_{};
  size_t records_ = 0;
  size_t deleted_ = 0;
  FileStamp stamp_;
};

}  // namespace oxm
