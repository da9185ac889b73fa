#include "feeds/rss_http.h"

// First version: the interface only; OpenURL fails as an unopenable root handle until the
// fetch lands.
RssHttp::RssHttp() = default;
RssHttp::RssHttp(const std::wstring& agent) : agent_(agent) {}
RssHttp::~RssHttp() = default;

int RssHttp::OpenURL(oxm::HCONNECTION conn, const std::wstring& host, const std::wstring& path,
                     const std::wstring& params, const std::wstring* abortWatch, int) {
  conn_ = conn;
  return openUrl(host, path, params, abortWatch);
}

int RssHttp::OpenURL(const std::wstring& host, const std::wstring& path, const std::wstring& params,
                     const std::wstring* abortWatch, int) {
  return openUrl(host, path, params, abortWatch);
}

int RssHttp::openUrl(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring*) {
  ClearBuf();
  return kRootOpenFailed;
}

void RssHttp::ClearBuf() { std::vector<unsigned char>().swap(buffer_); }
const unsigned char* RssHttp::buffer() const { return buffer_.empty() ? nullptr : buffer_.data(); }
size_t RssHttp::length() const { return buffer_.size(); }

std::wstring RssHttp::Escape(const std::wstring& text) { return text; }
void RssHttp::AddParam(std::wstring*, const std::wstring&, const std::wstring&) {}
void RssHttp::EmptyAbortWatch(std::wstring* watch) { watch->clear(); }
