// Inside the feed client: the scratch files, the parser objects of one document, and the small
// text rules of a feed run, shared by the client's source files.
#pragma once

#include <string>

#include "feeds/rss_client.h"

namespace oxm {
struct mfd_rssparser;
struct mfd_url;
struct mfd_rssdocument;
}  // namespace oxm

namespace oxm::feeds {

// Every file of a feed run lives here (the device's relative form, forward slashes).
inline constexpr const wchar_t* kScratchDir = L"Application Data/Rivulet/Tmp";
inline constexpr const wchar_t* kScratchFolder = L"Application Data/Rivulet/Tmp/";
inline constexpr const wchar_t* kDocumentFile = L"Application Data/Rivulet/Tmp/recv.rss";
inline constexpr const wchar_t* kDocumentUrl = L"file:///Application Data/Rivulet/Tmp/recv.rss";
inline constexpr const wchar_t* kContentsFile = L"Application Data/Rivulet/Tmp/contents.eml";
// Free physical memory needed before a picture is fetched.
inline constexpr unsigned long long kPictureMemoryFloor = 0x300000;

// The picture of an item and its two copies, by kind (1: weather, else the ordinary names).
struct PictureNames {
  const wchar_t* picture;
  const wchar_t* small;
  const wchar_t* large;
};
PictureNames pictureNames(int kind);

// "http://" host "/" path: the host and the path from its "/". False for anything else.
bool splitUrl(const std::wstring& url, std::wstring* host, std::wstring* path);
// The identifier after `last`: its value read as hexadecimal (any other character makes it 0)
// plus one, as "00" and eight upper-case hexadecimal digits.
std::string nextIdentifier(const std::string& last);
// The description as the message shows it: the four characters \r\n become "<br>", and an
// empty one becomes "本文はありません".
std::wstring itemBody(const std::wstring& description);
// Item kind by category: "weather" 1, "norvale" 2, else 0.
int itemKind(const std::wstring& category);

// Writes `size` bytes to the device file `path` whole, or leaves no file: the bytes go to a
// temporary beside it, which then replaces the file. The scratch directory is made when
// missing. OXMDL_ERR_NONE, OXMDL_ERR_FILE_OPEN (0x02000002) or OXMDL_ERR_FILE_DISK_FULL
// (0x02000201); a failure also goes to the last error.
unsigned writeScratchFile(const std::wstring& path, const void* data, size_t size);
// The whole file; false when it does not exist. *code gets OXMDL_ERR_FILE_OPEN when it exists
// but cannot be read.
bool readScratchFile(const std::wstring& path, std::string* out, unsigned* code);

}  // namespace oxm::feeds

// The parser objects of one document, released together.
struct RssClient::Fetch {
  oxm::mfd_rssparser* parser = nullptr;
  oxm::mfd_url* url = nullptr;
  oxm::mfd_rssdocument* document = nullptr;
  Fetch() = default;
  ~Fetch();
  Fetch(const Fetch&) = delete;
  Fetch& operator=(const Fetch&) = delete;
};
