// The parser library's own allocator: every block of the document tree comes from here, and
// each records the source file and line that asked for it, so a leak names its caller and a
// test can make the Nth allocation fail.
#pragma once

#include <cstddef>
#include <string>

namespace oxm {

// Null when the memory is not there (or the allocation was made to fail). Blocks are
// zero-filled by mfd_calloc only.
void* mfd_alloc(size_t size, const char* file, int line);
void* mfd_calloc(size_t size, const char* file, int line);
// Grows or shrinks a block; on failure the old block stays valid and null is returned.
void* mfd_realloc(void* block, size_t size, const char* file, int line);
// Null is ignored.
void mfd_free(void* block);

#define MFD_ALLOC(size) ::oxm::mfd_alloc((size), __FILE__, __LINE__)
#define MFD_CALLOC(size) ::oxm::mfd_calloc((size), __FILE__, __LINE__)
#define MFD_REALLOC(block, size) ::oxm::mfd_realloc((block), (size), __FILE__, __LINE__)
// A zero-filled object of a plain type.
#define MFD_NEW(Type) static_cast<Type*>(::oxm::mfd_calloc(sizeof(Type), __FILE__, __LINE__))

// Test hooks. The nth allocation from now (1 = the next) fails, and every one after it while
// `sticky`; 0 turns it off.
void mfd_alloc_fail_nth(long n, bool sticky = false);
// Allocations made since the process started (failed ones included).
long mfd_alloc_calls();
// Blocks alive now, and one "file:line size" line per block.
size_t mfd_alloc_live_blocks();
std::string mfd_alloc_live_report();

// A tree object's child (picture, Dublin Core values, list...): read it (3 for null pointers, 5
// when absent), or make it on first use with its create function (2 out of memory).
template <typename T>
int mfd_child_get(const void* owner, T* child, T** out) {
  if (!owner || !out) return 3;
  if (!child) return 5;
  *out = child;
  return 0;
}
template <typename T>
int mfd_child_open(T** slot, T** out, int (*create)(T**)) {
  if (!slot || !out) return 3;
  if (!*slot)
    if (const int rc = create(slot); rc != 0) return rc;
  *out = *slot;
  return 0;
}

}  // namespace oxm
