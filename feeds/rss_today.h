// Reading stored feed messages back for the phone's one-line and three-line "today" display:
// the item's picture copies, the weather and default fallbacks, and the text lines.
//
// Results go through the library's last error: OXMDL_ERR_NONE on success,
// OXMDL_ERR_FILE_DISK_FULL for too little space or a short write, OXMDL_ERR_FILE_OPEN when a
// file cannot be opened, OXMDL_ERR_MEM_SHORTAGE for too little memory or a failed conversion,
// OXMDL_ERR_MIME_DECODE for a uuencoded part without its begin line.
#pragma once

#include <string>

#include "codec/email.h"

// The scratch folder of the feed side and the pictures the display falls back to.
inline constexpr const wchar_t* kRssTmpDir = L"Application Data/Rivulet/Tmp/";
inline constexpr const wchar_t* kDefaultTodayPicture = L"Windows/TIDAL.jpg";

// Writes the decoded body of one enclosure of the stored message `raw` (CR LF text, located by
// the enclosure's bodyOffset and bodyLength as Decode gave them) to kRssTmpDir + enc.name.
bool RssGetImage(const std::string& raw, const Enclosure& enc);
// Makes kRssTmpDir "today.jpg" from the message's small (small = true) or large picture copy,
// or from the weather / default picture when the message has none; *outPath is its path.
bool RssGetTodayImage(const std::string& raw, std::wstring* outPath, bool small);
// The weather picture of that size, else the default copy of that size (made from
// kDefaultTodayPicture when missing: 48 x 36 small, 104 x 78 large).
bool RssGetWeatherImage(std::wstring* outPath, bool small);
// Always kDefaultTodayPicture.
bool RssGetDefaultTodayImage(std::wstring* outPath);
// The display line (the Subject, or up to 30 bytes of the body when the subject is empty) and
// the Reply-To value (the item's link). False when the message has no Subject field.
bool RssGetLineInfo(const std::string& raw, std::string* subject, std::string* replyTo);

// What the carrier's information plug-in shows for one feed message on the today screen.
struct RssLineInfo {
  std::string line;      // as the first form's subject
  std::string link;      // as the first form's Reply-To (empty when absent)
  std::string category;  // the "x-ml-name" field ("news", "weather", ...)
  std::string date;      // the "Date" field as the feed gave it (empty when absent)
  bool picture = false;  // the message carries its picture with the small and large copies
};
bool RssGetLineInfo(const std::string& raw, RssLineInfo* info);

// Draws the default today picture and writes it as kDefaultTodayPicture under the device root
// (the folder is made when missing); a file already there is replaced whole.
bool MakeDefaultTodayPicture();
