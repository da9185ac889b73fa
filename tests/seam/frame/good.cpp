// Code the seam check must leave alone: fopen(path, "rb") and open(path, 0) in a comment,
/* a block comment with unlink(path); rename(a, b);
   getenv("HOME") and #include <unistd.h> over lines */
#include <cstdint>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>
#include "platform/fs.h"  // not <unistd.h>
#include "frame/sys/stat_like.h"

namespace oxm {

class Stream {
 public:
  ~Stream() { close(); }
  bool open(const std::wstring& path, unsigned access);
  bool read(void* buf, size_t n, size_t* got);
  std::string time(int zone) const;
  void close();
  int stat(int a, int b);
  int countOpen();
  int reopen(int fd);
};

bool Stream::open(const std::wstring& path, unsigned access) {
  return path.size() > access;
}

int tricky(Stream& f, Stream* obj, const std::wstring& a, const std::wstring& b) {
  const char* s = "fopen(path, \"rb\"); close(fd); system(\"x\")";
  const char* r = R"(getenv("HOME"); ::open(p, 0);)";
  char quote = '"';
  char paren = '(';
  long big = 1'000'000;
  size_t got = 0;
  char buf[4];
  f.read(buf, 4, &got);
  obj->open(a, 2);
  obj->read(buf, 1, &got);
  oxm::MoveFileW(a, b);
  oxm::DeleteFileW(a);
  std::string t = f.time(9);
  std::string w = obj -> time(0);
  int reopened = f.reopen(3) + f.countOpen() + f.stat(1, 2);
  f.close();
  std::vector<int> v{1, 2, 3};
  v.erase(std::remove(v.begin(), v.end(), 2), v.end());
  auto bound = std::bind(&Stream::countOpen, &f);
  std::string timestamp = "x";
  bool opened = timestamp.size() > 0;
  return bound() + quote + paren + big + got + s[0] + r[0] + reopened + opened + t.size() + w.size();
}

}  // namespace oxm
