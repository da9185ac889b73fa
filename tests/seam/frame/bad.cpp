// Host calls the seam check must find behind comments and literals: every line marked HIT must
// be listed, no other line. In a comment: fopen(path, "rb");
/* in a block comment: unlink(path); #include <unistd.h>
   over lines */
#include <sys/stat.h>  // HIT
#  include <filesystem>  // HIT
#include "frame/sys/stat_like.h"  // not <unistd.h>

namespace oxm {

int hostCalls(const char* path, char* buf) {
  const char* str = "fopen(path, \"rb\"); close(fd); system(\"x\")";
  FILE* f = fopen(path, "rb");  // HIT
  std::FILE* g = std::fopen(path, "wb");  // HIT
  int fd = ::open(path, 0);  // HIT
  long big = 1'000 + unlink(path) + 2'000;  // HIT
  ssize_t n = write(  // HIT
      fd, buf,
      4);
  /* a comment that ends here */ fsync(fd);  // HIT
  const char* raw = R"x(a raw string ")
    over three lines; getenv("HOME") in it
    )x";
  std::filesystem::remove_all(path);  // HIT
  std::ofstream out(path);  // HIT
  if (n > time(nullptr)) return 2;  // HIT
  pthread_mutex_t m;  // HIT
  bool ok = buf[0] != '"' && fd >= 0 && close(fd) == 0 && str[1] != "x"[0];  // HIT
  std::remove(path);  // HIT
  return ::close(fd) + big + ok + (str != raw);  // HIT
}

}  // namespace oxm
