// Host calls the seam check must find. Every line marked HIT must be listed, no other line.
#include <unistd.h>  // HIT
#include <sys/stat.h>  // HIT
#  include <filesystem>  // HIT
#include <fstream>  // HIT
#include <cstdio>
#include <string>

namespace oxm {

int hostCalls(const char* path, char* buf) {
  FILE* f = fopen(path, "rb");  // HIT
  std::FILE* g = std::fopen(path, "wb");  // HIT
  int fd = ::open(path, 0);  // HIT
  if (read(fd, buf, 4) < 0) return -1;  // HIT
  long big = 1'000 + unlink(path) + 2'000;  // HIT
  ssize_t n = write(  // HIT
      fd, buf,
      4);
  /* a comment that ends here */ fsync(fd);  // HIT
  const char* raw = R"x(a raw string
    over three lines with getenv("HOME") in it
    )x";
  const char* home = getenv("HOME");  // HIT
  const char* also = std::getenv("PATH");  // HIT
  std::filesystem::remove_all(path);  // HIT
  std::ofstream out(path);  // HIT
  if (n > time(nullptr)) return 2;  // HIT
  pthread_mutex_t m;  // HIT
  rename(path, "x");  // HIT
  struct stat st;
  stat(path, &st);  // HIT
  system("true");  // HIT
  void* lib = dlopen(path, 0);  // HIT
  bool ok = fd >= 0 && close(fd) == 0;  // HIT
  int s = socket(2, 1, 0);  // HIT
  connect(s, nullptr,  // HIT
          0);
  std::remove(path);  // HIT
  void* p = mmap(nullptr, 4096, 3, 2, fd, 0);  // HIT
  struct tm* now = localtime(nullptr);  // HIT
  ok = ok && now && p;
  return ::close(fd) + fclose(f) + fclose(g) + big + ok + (home != also) + (raw != lib);  // HIT
}

}  // namespace oxm
