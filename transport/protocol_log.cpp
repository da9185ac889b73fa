#include "transport/protocol_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/clock.h"
#include "platform/fs.h"

using namespace oxm;
using oxm::transport::maskSecret;

namespace {

constexpr char kDefaultPath[] = "\\Application Data\\OxenMail\\OxMailLog.txt";
constexpr unsigned kWriteLimit = 2048;
constexpr char kSeparator[] =
    "--------------------------------------------------\r\n";

std::wstring widePath(const std::string& path) {
  std::wstring wide;
  if (multiToWide(path, &wide) != OXMDL_ERR_NONE) wide.assign(path.begin(), path.end());
  return wide;
}

}  // namespace

ProtocolLog::ProtocolLog() : path_(kDefaultPath), mode_("ab") {
  enabled_ = GetFileAttributesW(widePath(path_)) != INVALID_FILE_ATTRIBUTES;
}

ProtocolLog::ProtocolLog(std::string path, std::string mode)
    : path_(std::move(path)), mode_(std::move(mode)), enabled_(true) {}

ProtocolLog::~ProtocolLog() = default;

bool ProtocolLog::append(const void* data, size_t size) {
  if (!enabled_) return false;
  File file;
  if (!file.openStream(widePath(path_), mode_.c_str())) return false;
  bool ok = size == 0 || file.write(data, size);
  file.close();
  return ok;
}

unsigned ProtocolLog::start(const void* title, unsigned size) {
  if (!enabled_) return 0;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[64];
  int n = std::snprintf(stamp, sizeof stamp, " [%4d/%02d/%02d %02d:%02d:%02d] ***\r\n", now.wYear,
                        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  std::string block(kSeparator);
  if (title && size) block.append(static_cast<const char*>(title), size);
  block.append(stamp, n > 0 ? static_cast<size_t>(n) : 0);
  block.append(kSeparator);
  return append(block.data(), block.size()) ? static_cast<unsigned>(block.size()) : 0;
}

unsigned ProtocolLog::write(const void* data, unsigned size) {
  if (!data) return 0;
  unsigned cut = size > kWriteLimit ? kWriteLimit : size;
  return append(data, cut) ? cut : 0;
}

int ProtocolLog::write_free(const char* format, ...) {
  if (!enabled_ || !format) return 0;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  if (n <= 0) return 0;
  return append(text.data(), text.size()) ? n : 0;
}

void ProtocolLog::logCommand(const char* data, size_t size, bool secret) {
  if (!enabled_ || !data) return;
  if (size >= 5 && std::memcmp(data, "DELE ", 5) == 0) write("\r\n", 2);
  write_free("-[OUT(%02d)]", static_cast<int>(size));
  if (secret) {
    std::string masked = maskSecret(data, size);
    write(masked.data(), static_cast<unsigned>(masked.size()));
  } else {
    write(data, static_cast<unsigned>(size));
  }
}

void ProtocolLog::logReply(const char* data, size_t size) {
  if (!enabled_ || !data) return;
  write_free("-[IN (%02d)]", static_cast<int>(size));
  write(data, static_cast<unsigned>(size > kWriteLimit ? kWriteLimit : size));
}

void ProtocolLog::disconnected() {
  static const char kLine[] = "*** diconnect RAS Connection ***\r\n";
  write(kLine, sizeof kLine - 1);
}

namespace oxm::transport {

std::string maskSecret(const char* data, size_t size) {
  std::string text(data, size);
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  size_t from = 0;
  if (text.compare(0, 5, "PASS ") == 0) {
    from = 5;
  } else if (text.compare(0, 5, "APOP ") == 0) {
    size_t blank = text.rfind(' ', end == 0 ? 0 : end - 1);
    from = blank == std::string::npos || blank < 5 ? 5 : blank + 1;
  }
  for (size_t i = from; i < end; ++i) text[i] = '*';
  return text;
}

}  // namespace oxm::transport
