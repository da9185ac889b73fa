#include "store/headercache.h"

#include <bit>
#include <cstring>
#include <new>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "frame/textconv.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/storefile.h"

namespace oxm {

static_assert(std::endian::native == std::endian::little,
              "header records and slot tables are stored in memory order, little-endian");
static_assert(offsetof(FolderMsgHeader, toAddress) == 4);
static_assert(offsetof(FolderMsgHeader, fromAddress) == 518);
static_assert(offsetof(FolderMsgHeader, fromName) == 1032);
static_assert(offsetof(FolderMsgHeader, subject) == 1096);
static_assert(offsetof(FolderMsgHeader, date) == 1160);
static_assert(offsetof(FolderMsgHeader, reserved) == 1176);

namespace {

constexpr char16_t kEllipsis = 0x2026;

unsigned code(unsigned prim) { return fileCode(prim, StoreFile::HeaderCache); }

uint64_t recordOffset(size_t index) { return kSlotTableBytes + index * kHeaderRecordBytes; }

}  // namespace

void setAddressField(char16_t (&field)[256], const std::wstring& text) {
  const std::u16string u = toUtf16(text);
  std::memset(field, 0, sizeof field);
  std::memcpy(field, u.data(), std::min<size_t>(u.size(), 256) * 2);
}

void setNameField(char16_t (&field)[31], const std::wstring& text) {
  const std::u16string u = toUtf16(text);
  std::memset(field, 0, sizeof field);
  if (u.size() <= 30) {
    std::memcpy(field, u.data(), u.size() * 2);
    return;
  }
  // Cut to 30 units; a surrogate pair that the cut would split goes whole.
  size_t keep = 30;
  if (u[29] >= 0xD800 && u[29] <= 0xDBFF) keep = 29;
  std::memcpy(field, u.data(), keep * 2);
  field[keep] = kEllipsis;
}

std::wstring fieldText(const char16_t* field, size_t width) {
  size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  return fromUtf16(std::u16string(field, n));
}

FolderMsgHeader makeHeaderRecord(unsigned long id, const std::wstring& to, const std::wstring& from,
                                 const std::wstring& fromName, const std::wstring& subject,
                                 const SYSTEMTIME& utcDate) {
  FolderMsgHeader r;
  std::memset(&r, 0, sizeof r);
  r.messageId = static_cast<uint32_t>(id);
  setAddressField(r.toAddress, to);
  setAddressField(r.fromAddress, from);
  setNameField(r.fromName, fromName);
  setNameField(r.subject, subject);
  r.date = utcDate;
  return r;
}

void checkRecordDate(SYSTEMTIME* d) {
  if (d->wYear < 1901 || d->wYear > 2099 || d->wMonth < 1 || d->wMonth > 12 || d->wDayOfWeek > 6 ||
      d->wDay < 1 || d->wDay > 31 || d->wHour > 24 || d->wMinute > 60 || d->wSecond > 60) {
    WORD ms = d->wMilliseconds;
    std::memset(d, 0, sizeof *d);
    d->wMilliseconds = ms;
  }
}

bool HeaderCache::flushed(File& f) { return batch::indexFile(path_) == Flush::Deferred || f.flush(); }

unsigned HeaderCache::refresh() {
  if (stamp_.matches(path_)) return OXMDL_ERR_NONE;
  return load();
}

unsigned HeaderCache::load() {
  unsigned c = preOpenCheck(path_);
  if (c != OXMDL_ERR_NONE) return code(c);
  File f;
  if (!f.openStream(path_, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  uint64_t size = 0;
  if (!f.size(&size)) return OXMDL_ERR_STG_FILEIO_FILE_READ_FDB;
  if (size < kSlotTableBytes) return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
  std::array<uint32_t, kHeaderSlots> slots;
  if (!f.readAll(slots.data(), kSlotTableBytes)) return OXMDL_ERR_STG_FILEIO_FILE_READ_FDB;
  size_t records = 0;
  size_t deleted = 0;
  while (records < kHeaderSlots && slots[records] != kSlotUnused) {
    if (slots[records] == kSlotDeleted) {
      ++deleted;
    } else if (slots[records] > kMaxId) {
      return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
    }
    ++records;
  }
  for (size_t i = records; i < kHeaderSlots; ++i) {
    if (slots[i] != kSlotUnused) return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
  }
  if (size < recordOffset(records)) return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
  slots_ = slots;
  records_ = records;
  deleted_ = deleted;
  f.close();
  takeStamp();
  return OXMDL_ERR_NONE;
}

namespace {

// Whether the file at `path` holds exactly `bytes` (a failed read says no).
bool sameContent(const std::wstring& path, const std::string& bytes) {
  File f;
  uint64_t size = 0;
  if (preOpenCheck(path) != OXMDL_ERR_NONE || !f.openStream(path, "rb") || !f.size(&size) || size != bytes.size()) {
    return false;
  }
  std::string have(bytes.size(), '\0');
  return f.readAll(have.data(), have.size()) && have == bytes;
}

}  // namespace

std::vector<unsigned long> HeaderCache::liveIds() const {
  std::vector<unsigned long> ids;
  for (size_t i = 0; i < records_; ++i) {
    if (slots_[i] != kSlotDeleted) ids.push_back(slots_[i]);
  }
  return ids;
}

int HeaderCache::slotOf(unsigned long id) const {
  for (size_t i = 0; i < records_; ++i) {
    if (slots_[i] == id) return static_cast<int>(i);
  }
  return -1;
}

unsigned HeaderCache::append(const std::vector<FolderMsgHeader>& records) {
  if (records.empty()) return OXMDL_ERR_NONE;
  if (records_ + records.size() > kHeaderSlots) return OXMDL_ERR_STG_HEADER_FULL;
  std::array<uint32_t, kHeaderSlots> slots = slots_;
  for (size_t i = 0; i < records.size(); ++i) slots[records_ + i] = records[i].messageId;
  File f;
  if (!f.openStream(path_, "r+b")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  // The records go where the slot table says the next one is, whatever an earlier failed append
  // may have left beyond it.
  if (!f.writeAt(recordOffset(records_), records.data(), records.size() * kHeaderRecordBytes) ||
      !f.writeAt(0, slots.data(), kSlotTableBytes) || !flushed(f)) {
    unsigned c = diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_FDB);
    f.close();
    stamp_.clear();  // the table on disk may be either one now: read it again next time
    return c;
  }
  f.close();
  slots_ = slots;
  records_ += records.size();
  takeStamp();
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::markDeleted(unsigned long id) {
  int slot = slotOf(id);
  if (slot < 0) return OXMDL_ERR_STG_NO_HEADER;
  slots_[static_cast<size_t>(slot)] = kSlotDeleted;
  ++deleted_;
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::readRecordArea(std::string* area) {
  File f;
  if (!f.openStream(path_, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  std::string buf;
  try {
    buf.resize(records_ * kHeaderRecordBytes);
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  if (!f.seek(static_cast<int64_t>(kSlotTableBytes), SEEK_SET) || !f.readAll(buf.data(), buf.size())) {
    return OXMDL_ERR_STG_FILEIO_FILE_READ_FDB;
  }
  *area = std::move(buf);
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::compact() {
  if (deleted_ == 0) return OXMDL_ERR_NONE;
  std::string area;
  unsigned c = readRecordArea(&area);
  if (c != OXMDL_ERR_NONE) return c;
  std::array<uint32_t, kHeaderSlots> slots;
  slots.fill(kSlotUnused);
  std::string file(kSlotTableBytes, '\0');
  size_t kept = 0;
  for (size_t i = 0; i < records_; ++i) {
    if (slots_[i] == kSlotDeleted) continue;
    slots[kept++] = slots_[i];
    file.append(area, i * kHeaderRecordBytes, kHeaderRecordBytes);
  }
  std::memcpy(file.data(), slots.data(), kSlotTableBytes);
  const Flush flush = batch::indexFile(path_);
  c = writeAndCommit(path_, file.data(), file.size(), flush);
  if (c == OXMDL_ERR_STG_DISK_FULL) return markDeletedInPlace();
  if (c != OXMDL_ERR_NONE) return code(c);
  slots_ = slots;
  records_ = kept;
  deleted_ = 0;
  takeStamp();
  return OXMDL_ERR_NONE;
}

// No room for the compacted copy: the deletions go into the slot table where it is (the file
// keeps its size until a later compaction), so the file agrees with the list all the same.
unsigned HeaderCache::markDeletedInPlace() {
  File f;
  if (!f.openStream(path_, "r+b")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  if (!f.write(slots_.data(), kSlotTableBytes) || !flushed(f)) {
    stamp_.clear();
    return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_FDB);
  }
  f.close();
  takeStamp();
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::readRecord(unsigned long id, FolderMsgHeader* out) {
  int slot = slotOf(id);
  if (slot < 0) return OXMDL_ERR_STG_NO_HEADER;
  File f;
  if (!f.openStream(path_, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  if (!f.seek(static_cast<int64_t>(recordOffset(static_cast<size_t>(slot))), SEEK_SET) ||
      !f.readAll(out, kHeaderRecordBytes)) {
    return OXMDL_ERR_STG_FILEIO_FILE_READ_FDB;
  }
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::writeRecord(const FolderMsgHeader& record) {
  int slot = slotOf(record.messageId);
  if (slot < 0) return OXMDL_ERR_STG_NO_HEADER;
  File f;
  if (!f.openStream(path_, "r+b")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  if (!f.seek(static_cast<int64_t>(recordOffset(static_cast<size_t>(slot))), SEEK_SET) ||
      !f.write(&record, kHeaderRecordBytes) || !flushed(f)) {
    return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_FDB);
  }
  f.close();
  takeStamp();
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::loadRecords(FolderMsgHeader* buf, size_t count) {
  if (count > records_) return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
  if (count == records_) {
    // The whole record area in one read; it must be exactly `count` records long.
    File f;
    if (!f.openStream(path_, "rb")) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
    uint64_t size = 0;
    if (!f.size(&size)) return OXMDL_ERR_STG_FILEIO_FILE_READ_FDB;
    if (size - kSlotTableBytes > count * kHeaderRecordBytes) return OXMDL_ERR_STG_HEADER_COUNT;
    if (!f.seek(static_cast<int64_t>(kSlotTableBytes), SEEK_SET) ||
        !f.readAll(buf, count * kHeaderRecordBytes)) {
      return OXMDL_ERR_STG_FILEIO_FILE_READ_FDB;
    }
    for (size_t i = 0; i < count; ++i) checkRecordDate(&buf[i].date);
    return OXMDL_ERR_NONE;
  }
  if (live() > count) return OXMDL_ERR_STG_HEADER_COUNT;
  if (live() < count) return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
  return loadFirstLive(buf, count);
}

unsigned HeaderCache::loadFirstLive(FolderMsgHeader* buf, size_t count) {
  if (live() < count) return OXMDL_ERR_STG_FILE_FMTILLGL_FDB;
  std::string area;
  unsigned c = readRecordArea(&area);
  if (c != OXMDL_ERR_NONE) return c;
  size_t n = 0;
  for (size_t i = 0; i < records_ && n < count; ++i) {
    if (slots_[i] == kSlotDeleted) continue;
    std::memcpy(&buf[n++], area.data() + i * kHeaderRecordBytes, kHeaderRecordBytes);
  }
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::loadListed(const std::vector<unsigned long>& ids, FolderMsgHeader* buf) {
  std::string area;
  unsigned c = readRecordArea(&area);
  if (c != OXMDL_ERR_NONE) return c;
  for (size_t i = 0; i < ids.size(); ++i) {
    const int slot = slotOf(ids[i]);
    if (slot < 0) return OXMDL_ERR_STG_NO_HEADER;
    std::memcpy(&buf[i], area.data() + static_cast<size_t>(slot) * kHeaderRecordBytes, kHeaderRecordBytes);
    checkRecordDate(&buf[i].date);
  }
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::rebuild(const std::vector<FolderMsgHeader>& records, bool* changed) {
  if (records.size() > kHeaderSlots) return OXMDL_ERR_STG_FOLDER_FULL;
  std::array<uint32_t, kHeaderSlots> slots;
  slots.fill(kSlotUnused);
  for (size_t i = 0; i < records.size(); ++i) slots[i] = records[i].messageId;
  std::string file;
  try {
    file.resize(kSlotTableBytes + records.size() * kHeaderRecordBytes);
  } catch (const std::bad_alloc&) {
    return OXMDL_ERR_STG_NOT_ENOUGH_MEMORY;
  }
  std::memcpy(file.data(), slots.data(), kSlotTableBytes);
  if (!records.empty()) std::memcpy(file.data() + kSlotTableBytes, records.data(), records.size() * kHeaderRecordBytes);
  if (changed) *changed = !sameContent(path_, file);
  if (!changed || *changed) {
    unsigned c = replaceFile(path_, file.data(), file.size(), batch::indexFile(path_));
    if (c != OXMDL_ERR_NONE) return code(c);
  }
  slots_ = slots;
  records_ = records.size();
  deleted_ = 0;
  takeStamp();
  return OXMDL_ERR_NONE;
}

unsigned HeaderCache::createEmpty(const std::wstring& path) {
  std::string table(kSlotTableBytes, '\xFF');
  File f;
  if (!f.open(path, GENERIC_WRITE, 0, CREATE_NEW)) return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_OPEN_FDB);
  if (!f.write(table.data(), table.size()) || !f.flush()) {
    return diskFullOr(OXMDL_ERR_STG_FILEIO_FILE_WRITE_FDB);
  }
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
