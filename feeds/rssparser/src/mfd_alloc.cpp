#include "feeds/rssparser/src/mfd_alloc.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace oxm {

namespace {

// Each block starts with this header; the live blocks form one list.
struct alignas(std::max_align_t) Header {
  Header* prev;
  Header* next;
  const char* file;
  int line;
  size_t size;
};

std::mutex lock;
Header* live = nullptr;
size_t liveCount = 0;
long calls = 0;
long failAt = 0;  // the call number that fails, 0 for none
bool failSticky = false;

// Counts the call and tells whether it must fail. Called under the lock.
bool mustFail() {
  ++calls;
  if (failAt == 0 || calls < failAt) return false;
  if (!failSticky && calls > failAt) return false;
  return true;
}

void attach(Header* h) {
  h->prev = nullptr;
  h->next = live;
  if (live) live->prev = h;
  live = h;
  ++liveCount;
}

void detach(Header* h) {
  if (h->prev) h->prev->next = h->next;
  else live = h->next;
  if (h->next) h->next->prev = h->prev;
  --liveCount;
}

}  // namespace

void* mfd_alloc(size_t size, const char* file, int line) {
  std::lock_guard<std::mutex> guard(lock);
  if (mustFail() || size > SIZE_MAX - sizeof(Header)) return nullptr;
  auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + size));
  if (!h) return nullptr;
  h->file = file;
  h->line = line;
  h->size = size;
  attach(h);
  return h + 1;
}

void* mfd_calloc(size_t size, const char* file, int line) {
  void* p = mfd_alloc(size, file, line);
  if (p) std::memset(p, 0, size);
  return p;
}

void* mfd_realloc(void* block, size_t size, const char* file, int line) {
  if (!block) return mfd_alloc(size, file, line);
  std::lock_guard<std::mutex> guard(lock);
  if (mustFail() || size > SIZE_MAX - sizeof(Header)) return nullptr;
  Header* old = static_cast<Header*>(block) - 1;
  detach(old);
  auto* h = static_cast<Header*>(std::realloc(old, sizeof(Header) + size));
  if (!h) {
    attach(old);
    return nullptr;
  }
  h->file = file;
  h->line = line;
  h->size = size;
  attach(h);
  return h + 1;
}

void mfd_free(void* block) {
  if (!block) return;
  Header* h = static_cast<Header*>(block) - 1;
  {
    std::lock_guard<std::mutex> guard(lock);
    detach(h);
  }
  std::free(h);
}

void mfd_alloc_fail_nth(long n, bool sticky) {
  std::lock_guard<std::mutex> guard(lock);
  failAt = n > 0 ? calls + n : 0;
  failSticky = sticky;
}

long mfd_alloc_calls() {
  std::lock_guard<std::mutex> guard(lock);
  return calls;
}

size_t mfd_alloc_live_blocks() {
  std::lock_guard<std::mutex> guard(lock);
  return liveCount;
}

std::string mfd_alloc_live_report() {
  std::lock_guard<std::mutex> guard(lock);
  std::string out;
  for (const Header* h = live; h; h = h->next)
    out += std::string(h->file) + ":" + std::to_string(h->line) + " " + std::to_string(h->size) + "\n";
  return out;
}

}  // namespace oxm
