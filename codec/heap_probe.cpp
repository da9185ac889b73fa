#include "codec/heap_probe.h"

#include <atomic>
#include <cstdlib>

#include "frame/oxerror.h"
#include "platform/debug.h"

namespace oxm {

namespace {

constexpr size_t kProbeFree = 51200;
constexpr size_t kProbeSlack = 100;
constexpr size_t kNoLimit = static_cast<size_t>(-1);
std::atomic<size_t> probeLimit{kNoLimit};

bool canAllocate(size_t bytes) {
  if (bytes >= probeLimit.load(std::memory_order_relaxed)) return false;
  void* block = std::malloc(bytes + kProbeSlack);
  if (!block) return false;
  static_cast<volatile char*>(block)[0] = 0;  // keeps the compiler from leaving the pair out
  std::free(block);
  return true;
}

}  // namespace

unsigned heapProbe(size_t bytes) {
  if (bytes < kProbeFree || canAllocate(bytes)) return OXMDL_ERR_NONE;
  NKDbgPrintfW(L"[EML] CAUTION !! ------->\r\n");
  NKDbgPrintfW(L"[EML] Cannot alloc Heap Memory\r\n");
  NKDbgPrintfW(L"[EML] alloc size :[%d]\r\n", static_cast<int>(bytes));
  NKDbgPrintfW(L"[EML] CAUTION !! <-------\r\n");
  return OXMDL_ERR_MEM_SHORTAGE;
}

void setHeapProbeLimit(std::optional<size_t> bytes) { probeLimit.store(bytes.value_or(kNoLimit)); }

}  // namespace oxm
