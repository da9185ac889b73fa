#include "feeds/rss_today.h"

#include "accounts/paths.h"
#include "codec/charset.h"
#include "codec/emlcompose.h"
#include "codec/enclosure.h"
#include "codec/report.h"
#include "feeds/image_creater.h"
#include "feeds/scratch_file.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/imaging.h"
#include "platform/memory.h"

namespace {

// A default copy is made only with this much physical memory free.
constexpr uint64_t kPictureMemoryFloor = 0x300000;
// The display line made from the body when the subject is empty.
constexpr size_t kBodyLineBytes = 30;
// A message with its picture carries the picture, its small and its large copy, in that order.
constexpr size_t kPictureParts = 3;

struct DisplaySize {
  const wchar_t* weather;
  const wchar_t* fallback;
  int width, height;
  const wchar_t* log;
};
const DisplaySize kSmall = {L"weather_small.jpg", L"default_small.jpg", 48, 36, L" - 1 line def image make\r\n"};
const DisplaySize kLarge = {L"weather_large.jpg", L"default_large.jpg", 104, 78, L" - 3 line def image make\r\n"};

std::wstring scratch(const std::wstring& name) { return std::wstring(kRssTmpDir) + name; }

bool exists(const std::wstring& path) { return oxm::GetFileAttributesW(path) != oxm::INVALID_FILE_ATTRIBUTES; }

bool fail(unsigned code) { return oxm::reportCode(code); }

// The first `cap` bytes of a system code page text, never splitting a character.
std::string cutToBytes(const std::string& text, size_t cap) {
  std::wstring wide;
  oxm::ConvertStoW(text, &wide);
  std::string out;
  for (wchar_t c : wide) {
    const std::string bytes = oxm::systemText(std::wstring(1, c));
    if (out.size() + bytes.size() > cap) break;
    out += bytes;
  }
  return out;
}

}  // namespace

bool RssGetImage(const std::string& raw, const Enclosure& enc) {
  return oxm::reportCode(oxm::feedImageToFile(raw, enc));
}

bool RssGetWeatherImage(std::wstring* outPath, bool small) {
  if (!outPath) return fail(OXMDL_ERR_MIME_NULL_ARG);
  const DisplaySize& size = small ? kSmall : kLarge;
  for (const wchar_t* name : {size.weather, size.fallback}) {
    if (exists(scratch(name))) {
      *outPath = scratch(name);
      return fail(OXMDL_ERR_NONE);
    }
  }
  MEMORYSTATUS memory{};
  oxm::GlobalMemoryStatus(&memory);
  if (memory.dwAvailPhys < kPictureMemoryFloor) return fail(OXMDL_ERR_MEM_SHORTAGE);
  oxm::NKDbgPrintfW(size.log);
  ImageCreater creater;
  if (!creater.Create(kDefaultTodayPicture, scratch(size.fallback), size.width, size.height)) return false;
  *outPath = scratch(size.fallback);
  return fail(OXMDL_ERR_NONE);
}

bool RssGetTodayImage(const std::string& raw, std::wstring* outPath, bool small) {
  if (!outPath) return fail(OXMDL_ERR_MIME_NULL_ARG);
  Email mail;
  EmlCompose().Decode(&mail, &raw);
  std::wstring chosen;
  const size_t count = mail.enclosures.size();
  if (count >= kPictureParts) {
    const Enclosure& copy = *std::next(mail.enclosures.begin(), static_cast<long>(count - (small ? 2 : 1)));
    if (oxm::isPlainName(copy.name) && RssGetImage(raw, copy)) chosen = scratch(copy.name);
  }
  if (chosen.empty() && !RssGetWeatherImage(&chosen, small)) return false;
  std::string bytes;
  unsigned code = oxm::readWholeFile(chosen, oxm::kMaxPictureBytes, &bytes);
  const std::wstring today = scratch(L"today.jpg");
  if (code == OXMDL_ERR_NONE) code = oxm::writeWholeFile(today, bytes);
  if (code == OXMDL_ERR_NONE) *outPath = today;
  return fail(code);
}

bool RssGetDefaultTodayImage(std::wstring* outPath) {
  if (!outPath) return fail(OXMDL_ERR_MIME_NULL_ARG);
  *outPath = kDefaultTodayPicture;
  return fail(OXMDL_ERR_NONE);
}

bool RssGetLineInfo(const std::string& raw, std::string* subject, std::string* replyTo) {
  if (!subject || !replyTo) return fail(OXMDL_ERR_MIME_NULL_ARG);
  EmlCompose codec;
  std::string line;
  if (!codec.GetHeaderField(raw, "Subject", &line)) return false;
  if (line.empty()) {
    size_t start = raw.find("\r\n\r\n");
    start = start == std::string::npos ? raw.size() : start + 4;
    std::string body = raw.substr(start);
    oxm::toSJIS(&body, L"iso-2022-jp");
    line = cutToBytes(body, kBodyLineBytes);
  }
  std::string link;
  codec.GetHeaderField(raw, "Reply-To", &link);
  *subject = std::move(line);
  *replyTo = std::move(link);
  return fail(OXMDL_ERR_NONE);
}

// The second form fills the record the today screen's information plug-in shows: the two lines
// of the first form, the item's category and date, and whether its picture came with it.
bool RssGetLineInfo(const std::string& raw, RssLineInfo* info) {
  if (!info) return fail(OXMDL_ERR_MIME_NULL_ARG);
  RssLineInfo filled;
  if (!RssGetLineInfo(raw, &filled.line, &filled.link)) return false;
  EmlCompose codec;
  codec.GetHeaderField(raw, "x-ml-name", &filled.category);
  codec.GetHeaderField(raw, "Date", &filled.date);
  Email mail;
  codec.Decode(&mail, &raw);
  filled.picture = mail.enclosures.size() >= kPictureParts;
  *info = std::move(filled);
  return fail(OXMDL_ERR_NONE);
}
