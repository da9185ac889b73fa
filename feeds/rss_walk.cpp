// The feed client's document: parsing recv.rss and walking the first channel's items, one
// message per item.
#include <cstdio>
#include <cwctype>

#include "feeds/rss_client.h"
#include "feeds/rss_parts.h"
#include "feeds/rssparser/src/mfd_rss_error.h"
#include "feeds/rssparser/src/mfd_rssdocument.h"
#include "feeds/rssparser/src/mfd_rssparser.h"
#include "feeds/rssparser/src/mfd_url.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"

using namespace oxm;

namespace oxm::feeds {

std::string nextIdentifier(const std::string& last) {
  uint32_t value = 0;
  for (char c : last) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      value = 0;
      break;
    }
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  char out[16];
  std::snprintf(out, sizeof out, "00%08X", value + 1);
  return out;
}

std::wstring itemBody(const std::wstring& description) {
  if (description.empty()) return L"本文はありません";
  static const std::wstring kLiteral = L"\\r\\n";
  std::wstring body;
  size_t from = 0;
  for (size_t at = description.find(kLiteral); at != std::wstring::npos; at = description.find(kLiteral, from)) {
    body.append(description, from, at - from).append(L"<br>");
    from = at + kLiteral.size();
  }
  return body.append(description, from, std::wstring::npos);
}

int itemKind(const std::wstring& category) {
  if (category == L"weather") return 1;
  if (category == L"norvale") return 2;
  return 0;
}

}  // namespace oxm::feeds

using namespace oxm::feeds;

namespace {

// A field's text into *out: 0 and 5 (absent: empty) are good, any other status fails.
template <class Object>
bool readField(int (*get)(const Object*, const wchar_t**), const Object* object, std::wstring* out) {
  const wchar_t* value = nullptr;
  const int status = get(object, &value);
  if (status == MFD_ABSENT) {
    out->clear();
    return true;
  }
  if (status != MFD_OK) return false;
  out->assign(value ? value : L"");
  return true;
}

unsigned parserCode(int status, unsigned otherwise) {
  return status == MFD_NO_MEMORY ? OXMDL_ERR_RSS_NO_MEMORY : otherwise;
}

}  // namespace

RssClient::Fetch::~Fetch() {
  if (document) mfd_rssdocument_destroy(&document);
  if (url) mfd_url_destroy(&url);
  if (parser) mfd_rssparser_destroy(&parser);
}

unsigned RssClient::parse(Fetch* fetch) {
  logLine("*RssClient::rssRarse()\r\n");
  int status = mfd_rssparser_create(&fetch->parser);
  if (status == MFD_OK) status = mfd_url_create(&fetch->url);
  if (status == MFD_OK) status = mfd_url_set(fetch->url, kDocumentUrl);
  if (status == MFD_OK) status = mfd_rssdocument_create(&fetch->document);
  if (status != MFD_OK) return parserCode(status, OXMDL_ERR_RSS_PARSER);
  status = mfd_rssdocument_parse(fetch->parser, fetch->document, fetch->url);
  if (status != MFD_OK) {
    mfd_rss_error* error = nullptr;
    if (mfd_rssdocument_take_error(fetch->document, &error) == MFD_OK) {
      const wchar_t* message = L"";
      mfd_rss_error_get_message(error, &message);
      std::string narrow;
      oxm::wideToMulti(message ? message : L"", &narrow);
      logLine("*RssClient::Prase error Reslut line:[%d] column:[%d]\r\n%s\r\n", error->line, error->column,
              narrow.c_str());
      mfd_rss_error_destroy(&error);
    } else {
      logLine("**RssClient  parse Error\r\n");
    }
    return parserCode(status, OXMDL_ERR_RSS_PARSE);
  }
  mfd_list* channels = nullptr;
  void* first = nullptr;
  if (mfd_rssdocument_get_channels(fetch->document, &channels) != MFD_OK || mfd_list_first(channels, &first) != MFD_OK) {
    return OXMDL_ERR_RSS_NO_CHANNEL;
  }
  return OXMDL_ERR_NONE;
}

unsigned RssClient::parseData(Fetch* fetch) {
  logLine("*RssClient::parseData()\r\n");
  mfd_list* channels = nullptr;
  void* value = nullptr;
  mfd_rssdocument_get_channels(fetch->document, &channels);
  mfd_list_first(channels, &value);
  const auto* channel = static_cast<const mfd_rsschannel*>(value);
  mfd_list* items = nullptr;
  const int status = mfd_rsschannel_get_items(channel, &items);
  if (status != MFD_OK && status != MFD_ABSENT) return OXMDL_ERR_RSS_CHANNEL_DATA;
  if (!readField(mfd_rsschannel_get_title, channel, &channelTitle_) ||
      !readField(mfd_rsschannel_get_link, channel, &channelLink_) ||
      !readField(mfd_rsschannel_get_description, channel, &channelDescription_)) {
    return OXMDL_ERR_RSS_CHANNEL_DATA;
  }
  if (status == MFD_ABSENT) return OXMDL_ERR_NONE;
  unsigned number = 1;
  for (int more = mfd_list_first(items, &value); more == MFD_OK; more = mfd_list_next(items, &value), ++number) {
    // Between items is where a cancel is seen.
    const unsigned code = cancelRequested_ ? OXMDL_ERR_RSS_CANCEL : parseItemData(value, number);
    if (code == OXMDL_ERR_RSS_DISCONNECTED || code == OXMDL_ERR_RSS_TIMEOUT || code == OXMDL_ERR_RSS_CANCEL) {
      return code;
    }
    // Any other failure loses that item only; the owner hears of it and the walk goes on.
    if (code != OXMDL_ERR_NONE) {
      logLine("**RssClient item %u skipped:[%x]\r\n", number, code);
      notifyRss(4, static_cast<long>(code), static_cast<long>(number));
    }
  }
  return OXMDL_ERR_NONE;
}

unsigned RssClient::readItem(const void* value, RssItemData* d) {
  const auto* item = static_cast<const mfd_rsschannelitem*>(value);
  std::wstring description;
  bool good = readField(mfd_rsschannelitem_get_link, item, &d->link) &&
              readField(mfd_rsschannelitem_get_description, item, &description) &&
              readField(mfd_rsschannelitem_get_title, item, &d->title) &&
              readField(mfd_rsschannelitem_get_pubDate, item, &d->pubDate) &&
              readField(mfd_rsschannelitem_get_category, item, &d->category);
  d->description = itemBody(description);
  mfd_rsschannelimage* image = nullptr;
  const int imageStatus = mfd_rsschannelitem_get_image(item, &image);
  if (imageStatus != MFD_OK && imageStatus != MFD_ABSENT) good = false;
  if (good && imageStatus == MFD_OK) {
    good = readField(mfd_rsschannelimage_get_title, image, &d->imageTitle) &&
           readField(mfd_rsschannelimage_get_link, image, &d->imageLink) &&
           readField(mfd_rsschannelimage_get_description, image, &d->imageDescription) &&
           readField(mfd_rsschannelimage_get_url, image, &d->imageUrl) &&
           readField(mfd_rsschannelimage_get_width, image, &d->imageWidth) &&
           readField(mfd_rsschannelimage_get_height, image, &d->imageHeight);
  }
  good = good && readField(mfd_rsschannelitem_get_enclosureUrl, item, &d->enclosureUrl) &&
         readField(mfd_rsschannelitem_get_enclosureLength, item, &d->enclosureLength) &&
         readField(mfd_rsschannelitem_get_enclosureType, item, &d->enclosureType);
  if (good && !d->enclosureUrl.empty()) good = readField(mfd_rsschannelitem_get_cinst, item, &d->cinst);
  return good ? OXMDL_ERR_NONE : OXMDL_ERR_RSS_ITEM_DATA;
}

unsigned RssClient::parseItemData(const void* item, unsigned) {
  logLine("**RssClient::parseItemData()\r\n");
  RssItemData data;
  unsigned code = readItem(item, &data);
  if (code != OXMDL_ERR_NONE) return code;

  // Addresses shorter than 11 characters cannot be "http://" and a host and a path.
  constexpr size_t kShortestUrl = 11;
  ExpandInfo expand;
  expand.kind = itemKind(data.category);
  if (data.imageUrl.size() >= kShortestUrl) {
    expand.imageUrl = data.imageUrl;
    expand.imageState = 1;
  }
  if (data.enclosureUrl.size() >= kShortestUrl) {
    expand.contentsUrl = data.enclosureUrl;
    expand.contentsState = 1;
  }
  const bool wanted = expand.imageState == 1 || expand.contentsState == 1;
  const bool fetched = wanted && connected_;
  if (fetched) {
    code = fetchExpand(&expand);
    if (code != OXMDL_ERR_NONE) return code;
  }
  code = buildText(data, expand);
  if (code != OXMDL_ERR_NONE) return code;
  const std::string uid = nextIdentifier(lastUid_);
  deliver(!wanted || fetched ? 1 : 2, text_, uid);
  lastUid_ = uid;
  return OXMDL_ERR_NONE;
}
