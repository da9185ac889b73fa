// Host calls the seam check must find among look-alikes: every line marked HIT must be listed,
// no other line. In a comment: fopen(path, "rb");
/* in a block comment: unlink(path); #include <unistd.h>
   over lines */
#include <sys/stat.h>  // HIT
#  include <filesystem>  // HIT
#include <string>
#include "frame/sys/stat_like.h"  // not <unistd.h>

namespace oxm {

class Stream {
 public:
  ~Stream() { close(); }
  bool read(void* buf, size_t n, size_t* got);
  std::string time(int zone) const;
  void close();
  static Stream* fopen(const char* path, const char* mode);
  bool open(const std::wstring& path, unsigned access);
};

bool Stream::open(const std::wstring& path, unsigned access) { return path.size() > access; }

int hostCalls(const char* path, char* buf, Stream& s, Stream* obj) {
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
  const char* home = getenv("HOME");  // HIT
  std::filesystem::remove_all(path);  // HIT
  std::ofstream out(path);  // HIT
  if (n > time(nullptr)) return 2;  // HIT
  pthread_mutex_t m;  // HIT
  s.read(buf, 4, nullptr);
  std::string t = obj -> time(0);
  bool ok = buf[0] != '"' && fd >= 0 && close(fd) == 0 && str[1] != "x"[0];  // HIT
  std::remove(path);  // HIT
  std::vector<int> v{1, 2, 3};
  v.erase(std::remove(v.begin(), v.end(), 2), v.end());
  return ::close(fd) + big + ok + (home != raw) + t.size();  // HIT
}

}  // namespace oxm
