#include "store/idtraits.h"

#include <algorithm>
#include <cstdio>

#include "frame/oxerror.h"
#include "frame/safefile.h"
#include "store/batch.h"

namespace oxm {

namespace {

// A Status.txt is at most 4 + 1 + 8 bytes; anything longer is not one.
constexpr size_t kStatusCap = 64;

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

unsigned long hexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned long>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned long>(c - 'a' + 10);
  return static_cast<unsigned long>(c - 'A' + 10);
}

unsigned long clampedCount(unsigned long count, long long delta) {
  const long long now = static_cast<long long>(count) + delta;
  return now < 0 ? 0 : static_cast<unsigned long>(now);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

OxIdTraits::OxIdTraits(std::wstring base, StoreFile kind)
    : base_(std::move(base)), status_(base_ + L"\\Status.txt"), kind_(kind) {}

std::string OxIdTraits::statusText(unsigned long next, unsigned long count) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%04lX\t%lX", next & 0xFFFF, count);
  return std::string(buf, static_cast<size_t>(n));
}

// The same reading as scanf("%04X\t%X"): the blank in the format matches any run of blanks,
// none included.
bool OxIdTraits::parseStatus(const std::string& text, unsigned long* next, unsigned long* count) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  size_t start = i;
  unsigned long n = 0;
  while (i < text.size() && i - start < 4 && isHex(text[i])) n = n * 16 + hexValue(text[i++]);
  if (i == start) return false;
  while (i < text.size() && isBlank(text[i])) ++i;
  start = i;
  unsigned long c = 0;
  while (i < text.size() && i - start < 8 && isHex(text[i])) c = c * 16 + hexValue(text[i++]);
  if (i == start) return false;
  *next = n;
  *count = c;
  return true;
}

unsigned OxIdTraits::load() {
  MutexLock lock(mutex_);
  unsigned code = preOpenCheck(status_);
  if (code != OXMDL_ERR_NONE) return fileCode(code, kind_);
  std::string text;
  code = readSmallFile(status_, kStatusCap, kind_, &text);
  if (code != OXMDL_ERR_NONE) return code;
  unsigned long next = 0;
  unsigned long count = 0;
  if (!parseStatus(text, &next, &count)) return fileCode(OXMDL_ERR_STG_PRIM_READ, kind_);
  // A next identifier beyond the range wraps, as advancing past the maximum does.
  next_ = next > kMaxId ? 0 : next;
  count_ = count;
  stamp_.take(status_);
  return OXMDL_ERR_NONE;
}

unsigned OxIdTraits::refresh() {
  if (stamp_.matches(status_)) return OXMDL_ERR_NONE;
  const unsigned long next = next_;
  const unsigned code = load();
  if (code == OXMDL_ERR_NONE && held_) {
    next_ = std::max(next, next_);
    count_ = clampedCount(count_, heldDelta_);
  }
  return code;
}

unsigned long OxIdTraits::takeNext() {
  MutexLock lock(mutex_);
  refresh();
  unsigned long id = next_;
  next_ = next_ >= kMaxId ? 0 : next_ + 1;
  return id;
}

unsigned OxIdTraits::changeCount(long delta) {
  MutexLock lock(mutex_);
  unsigned code = refresh();
  if (code != OXMDL_ERR_NONE) return code;
  if (batch::defers(status_)) {
    held_ = true;
    heldDelta_ += delta;
    count_ = clampedCount(count_, delta);
    return OXMDL_ERR_NONE;
  }
  return write(clampedCount(count_, delta));
}

unsigned OxIdTraits::writeHeldBack() {
  MutexLock lock(mutex_);
  if (!held_) return OXMDL_ERR_NONE;
  const unsigned code = refresh();
  return code != OXMDL_ERR_NONE ? code : write(count_);
}

unsigned OxIdTraits::write(unsigned long count) {
  std::string text = statusText(next_, count);
  unsigned code = replaceFile(status_, text.data(), text.size(), batch::indexFile(status_));
  if (code != OXMDL_ERR_NONE) return fileCode(code, kind_);
  count_ = count;
  held_ = false;
  heldDelta_ = 0;
  stamp_.take(status_);
  return OXMDL_ERR_NONE;
}

unsigned long OxIdTraits::count() {
  MutexLock lock(mutex_);
  if (refresh() != OXMDL_ERR_NONE) return 0;
  return count_;
}

}  // namespace oxm
