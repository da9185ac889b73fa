#include "feeds/rss_today.h"

#include "frame/oxerror.h"

// Not written yet: every reader fails.
bool RssGetImage(const std::string&, const Enclosure&) { return false; }
bool RssGetTodayImage(const std::string&, std::wstring*, bool) { return false; }
bool RssGetWeatherImage(std::wstring*, bool) { return false; }
bool RssGetDefaultTodayImage(std::wstring* outPath) {
  if (outPath) *outPath = kDefaultTodayPicture;
  return outPath != nullptr;
}
bool RssGetLineInfo(const std::string&, std::string*, std::string*) { return false; }
bool RssGetLineInfo(const std::string&, RssLineInfo*) { return false; }
bool MakeDefaultTodayPicture() { return false; }
