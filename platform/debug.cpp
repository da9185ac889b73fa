#include "platform/debug.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <vector>

#include "platform/env.h"
#include "platform/hostio.h"

namespace oxm {

namespace {

std::mutex captureLock;
bool capturing = false;
std::wstring captured;

bool printEnabled() {
  static const bool enabled = getEnv("OXMIDDLE_DEBUG").value_or("") == "1";
  return enabled;
}

// The device's wide printf reads %s and %c as wide and %S, %hs, %C, %hc as narrow; glibc's
// vswprintf reads %s and %c as narrow. Rewrites a device format for glibc, so that callers
// write formats as they did on the device. %I64 (the device's 64-bit size) becomes %ll.
std::wstring hostFormat(const wchar_t* fmt) {
  std::wstring out;
  for (const wchar_t* p = fmt; *p;) {
    if (*p != L'%') {
      out += *p++;
      continue;
    }
    out += *p++;
    while (*p && std::wcschr(L"-+ #0'123456789.*", *p)) out += *p++;
    std::wstring length;
    while (*p && std::wcschr(L"hlLqjztwI", *p)) {
      if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
        length += L"ll";
        p += 3;
      } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
        p += 3;
      } else {
        length += *p++;
      }
    }
    wchar_t conv = *p;
    if (conv == L's' || conv == L'c') {
      out += length == L"h" ? L"" : L"l";
    } else if (conv == L'S' || conv == L'C') {
      conv = conv == L'S' ? L's' : L'c';
    } else {
      out += length;
    }
    if (conv) {
      out += conv;
      ++p;
    }
  }
  return out;
}

// A text longer than this is dropped rather than grown without bound.
constexpr size_t kMaxLine = 1 << 20;

// Empty when vswprintf refuses the format or an argument (a narrow text it cannot decode).
std::wstring format(const wchar_t* fmt, va_list args) {
  std::wstring hostFmt = hostFormat(fmt);
  std::vector<wchar_t> buf(256);
  while (true) {
    va_list copy;
    va_copy(copy, args);
    errno = 0;
    int n = std::vswprintf(buf.data(), buf.size(), hostFmt.c_str(), copy);
    va_end(copy);
    if (n >= 0) return std::wstring(buf.data(), static_cast<size_t>(n));
    // glibc leaves errno 0 when the text only did not fit.
    if (errno != 0 || buf.size() >= kMaxLine) return std::wstring();
    buf.resize(buf.size() * 4);
  }
}

void writeStderr(const std::wstring& line) {
  std::string bytes = host::utf8(line);
  // The whole line in one write where the kernel allows, so threads' lines do not interleave.
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t w = ::write(STDERR_FILENO, p, left);
    if (w <= 0) return;
    p += w;
    left -= static_cast<size_t>(w);
  }
}

}  // namespace

void NKDbgPrintfW(const wchar_t* fmt, ...) {
  if (!fmt) return;
  bool print = printEnabled();
  {
    std::lock_guard<std::mutex> g(captureLock);
    if (!capturing && !print) return;  // the usual case: formatting costs nothing
  }
  va_list args;
  va_start(args, fmt);
  std::wstring line = format(fmt, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> g(captureLock);
    if (capturing) {
      captured += line;
      return;
    }
  }
  writeStderr(line);
}

void debugCaptureStart() {
  std::lock_guard<std::mutex> g(captureLock);
  capturing = true;
  captured.clear();
}

std::wstring debugCaptured() {
  std::lock_guard<std::mutex> g(captureLock);
  return captured;
}

void debugCaptureStop() {
  std::lock_guard<std::mutex> g(captureLock);
  capturing = false;
  captured.clear();
}

}  // namespace oxm
