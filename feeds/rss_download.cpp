// The feed client's downloads: the document URL (the account's, or the registry's push URL),
// one HTTP fetch into a scratch file, and the scratch files themselves.
#include <cstring>

#include "feeds/rss_client.h"
#include "feeds/rss_http.h"
#include "feeds/rss_parts.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"
#include "frame/scope_guard.h"
#include "frame/textconv.h"
#include "accounts/paths.h"
#include "platform/fs.h"

namespace oxm::feeds {

namespace {

constexpr wchar_t kHttp[] = L"http://";
// Results of RssHttp::OpenURL that the client names.
constexpr int kHttpOk = 200;
constexpr int kHttpLost = -10;
constexpr int kHttpTimeout = -8;
constexpr int kHttpAborted = -12;

void makeScratchDir() {
  // Each level in turn; an existing one is fine.
  std::wstring dir = kScratchDir;
  for (size_t slash = dir.find(L'/'); slash != std::wstring::npos; slash = dir.find(L'/', slash + 1)) {
    oxm::CreateDirectoryW(dir.substr(0, slash));
  }
  oxm::CreateDirectoryW(dir);
}

}  // namespace

bool splitUrl(const std::wstring& url, std::wstring* host, std::wstring* path) {
  const size_t prefix = std::wcslen(kHttp);
  if (url.compare(0, prefix, kHttp) != 0) return false;
  const size_t slash = url.find(L'/', prefix);
  if (slash == std::wstring::npos) return false;
  *host = url.substr(prefix, slash - prefix);
  *path = url.substr(slash);
  return true;
}

unsigned writeScratchFile(const std::wstring& path, const void* data, size_t size) {
  makeScratchDir();
  const std::wstring temporary = path + L"_tmp";
  oxm::DeleteFileW(temporary);
  unsigned code = OXMDL_ERR_NONE;
  {
    oxm::File file;
    if (!file.open(temporary, oxm::GENERIC_WRITE, 0, oxm::CREATE_ALWAYS)) {
      code = OXMDL_ERR_FILE_OPEN;
    } else if (!file.write(data, size) || !file.flush()) {
      code = OXMDL_ERR_FILE_DISK_FULL;
    }
  }
  if (code == OXMDL_ERR_NONE && !oxm::DeleteAndRenameFile(path, temporary)) code = OXMDL_ERR_FILE_DISK_FULL;
  if (code != OXMDL_ERR_NONE) {
    oxm::DeleteFileW(temporary);
    SetOxMiddleError(code);
  }
  return code;
}

bool readScratchFile(const std::wstring& path, std::string* out, unsigned* code) {
  *code = OXMDL_ERR_NONE;
  if (oxm::GetFileAttributesW(path) == oxm::INVALID_FILE_ATTRIBUTES) return false;
  oxm::File file;
  uint64_t size = 0;
  if (!file.open(path, oxm::GENERIC_READ, oxm::FILE_SHARE_READ, oxm::OPEN_EXISTING) || !file.size(&size)) {
    *code = OXMDL_ERR_FILE_OPEN;
    return true;
  }
  std::string bytes(size, '\0');
  if (size > 0 && !file.readAll(bytes.data(), bytes.size())) {
    *code = OXMDL_ERR_FILE_OPEN;
    return true;
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace oxm::feeds

using namespace oxm::feeds;

unsigned RssClient::receive() {
  const unsigned code = socketUp();
  if (code != OXMDL_ERR_NONE) return code;
  std::wstring url = account_.smtpServerName;
  std::wstring push;
  if (GetRegistryValue(HKEY_CURRENT_USER, oxm::kRivuletKey, L"PushUrl", &push) && !push.empty() && push != L"0") {
    std::string narrow;
    oxm::wideToMulti(push, &narrow);
    logLine("** REG(%s)\r\n", narrow.c_str());
    url = push;
    logLine("** url(%s)\r\n", narrow.c_str());
  }
  return recvHttp(url, kDocumentFile, false);
}

unsigned RssClient::recvHttp(const std::wstring& url, const std::wstring& file, bool binary) {
  if (!connected_) return OXMDL_ERR_RSS_DISCONNECTED;
  std::wstring host, path;
  if (!splitUrl(url, &host, &path)) return OXMDL_ERR_RSS_URL;
  if (file == kDocumentFile) path += manual_ ? L"?mode=manual" : L"?mode=push";
  std::string narrowHost, narrowPath;
  oxm::wideToMulti(host, &narrowHost);
  oxm::wideToMulti(path, &narrowPath);
  logLine("*RssClient::recvHttp(%s%s)\r\n", narrowHost.c_str(), narrowPath.c_str());
  std::wstring watch = url;
  if (binary) {
    std::lock_guard<std::mutex> hold(watchLock_);
    if (cancelRequested_) watch.clear();
    activeWatch_ = &watch;
  }
  const int result = http_->OpenURL(connection_, host, path, L"", binary ? &watch : nullptr, 0);
  if (binary) {
    std::lock_guard<std::mutex> hold(watchLock_);
    activeWatch_ = nullptr;
  }
  ScopeGuard release([this] { http_->ClearBuf(); });
  switch (result) {
    case kHttpOk:
      return writeDownload(file, binary);
    case kHttpLost:
      connected_ = false;
      return OXMDL_ERR_RSS_DISCONNECTED;
    case kHttpTimeout:
      connected_ = false;
      return OXMDL_ERR_RSS_TIMEOUT;
    case kHttpAborted:
      connected_ = false;
      return OXMDL_ERR_RSS_CANCEL;
    default:
      return OXMDL_ERR_RSS_HTTP_STATUS;
  }
}

// A text download ends at its first NUL: without a Content-Length the body arrives in a
// zero-filled buffer of fixed size. The text is written back in the bytes it came in: decoding
// it to wide text and encoding it again in the same code page changes nothing in valid text,
// and the document names its own encoding, which any other code page would break.
unsigned RssClient::writeDownload(const std::wstring& file, bool binary) {
  const unsigned char* bytes = http_->buffer();
  size_t size = bytes ? http_->length() : 0;
  if (!binary && size > 0) size = strnlen(reinterpret_cast<const char*>(bytes), size);
  return writeScratchFile(file, bytes, size);
}
