// The feed client's message for one item: the picture and contents downloads, the scaled
// copies, and the message text (the contents message as fetched, or the item encoded as a feed
// message); and the re-get of a stored message's missing files.
#include <memory>

#include "codec/email.h"
#include "codec/emlcompose.h"
#include "feeds/image_creater.h"
#include "feeds/rss_client.h"
#include "feeds/rss_parts.h"
#include "frame/oxerror.h"
#include "frame/textconv.h"
#include "platform/memory.h"

using namespace oxm::feeds;

namespace oxm::feeds {

PictureNames pictureNames(int kind) {
  if (kind == 1) return {L"weather.gif", L"weather_small.jpg", L"weather_large.jpg"};
  return {L"image.jpg", L"image_small.jpg", L"image_large.jpg"};
}

}  // namespace oxm::feeds

namespace {

constexpr int kSmallWidth = 48, kSmallHeight = 36;
constexpr int kLargeWidth = 104, kLargeHeight = 78;

bool fatal(unsigned code) {
  return code == OXMDL_ERR_RSS_DISCONNECTED || code == OXMDL_ERR_RSS_TIMEOUT || code == OXMDL_ERR_RSS_CANCEL;
}

Enclosure scratchFile(const wchar_t* name) {
  Enclosure e;
  e.folder = kScratchFolder;
  e.name = name;
  return e;
}

}  // namespace

unsigned RssClient::fetchExpand(ExpandInfo* expand) {
  if (expand->contentsState == 1) {
    const unsigned code = recvHttp(expand->contentsUrl, kContentsFile, false);
    if (fatal(code)) return code;
    expand->contentsState = code == OXMDL_ERR_NONE ? 2 : 0;
    if (expand->contentsState == 2) {
      std::string raw;
      unsigned readCode = OXMDL_ERR_NONE;
      readScratchFile(kContentsFile, &raw, &readCode);
      if (!compose_->GetHeaderField(raw, "subject:", &expand->contentsSubject)) expand->contentsState = 0;
      compose_->GetHeaderField(raw, "date:", &expand->contentsDate);
    }
  }
  if (expand->imageState == 1) {
    MEMORYSTATUS memory = {};
    oxm::GlobalMemoryStatus(&memory);
    if (memory.dwAvailPhys < kPictureMemoryFloor) return OXMDL_ERR_RSS_NO_MEMORY;
    const std::wstring picture = std::wstring(kScratchFolder) + pictureNames(expand->kind).picture;
    const unsigned code = recvHttp(expand->imageUrl, picture, true);
    if (fatal(code)) return code;
    expand->imageState = code == OXMDL_ERR_NONE && makeSmallImage(expand->kind) == OXMDL_ERR_NONE ? 2 : 0;
  }
  return OXMDL_ERR_NONE;
}

unsigned RssClient::makeSmallImage(int kind) {
  const PictureNames names = pictureNames(kind);
  const std::wstring folder = kScratchFolder;
  const std::wstring picture = folder + names.picture;
  if (!imageCreater_->Create(picture, folder + names.small, kSmallWidth, kSmallHeight) ||
      !imageCreater_->Create(picture, folder + names.large, kLargeWidth, kLargeHeight)) {
    logLine("*RssClient::makeSmallImage() failed:[%lx]\r\n", imageCreater_->lastError());
    return OXMDL_ERR_RSS_IMAGE_SCALE;
  }
  return OXMDL_ERR_NONE;
}

// The fetched contents message, headed by the lines that mark it as the carrier's news.
unsigned RssClient::contentsText(const std::wstring& link, const std::wstring& cinst) {
  std::string contents;
  unsigned code = OXMDL_ERR_NONE;
  if (!readScratchFile(kContentsFile, &contents, &code)) return OXMDL_ERR_NONE;
  if (code != OXMDL_ERR_NONE) {
    SetOxMiddleError(code);
    return code;
  }
  std::string narrowLink, narrowCinst;
  oxm::wideToMulti(link, &narrowLink);
  oxm::wideToMulti(cinst, &narrowCinst);
  text_ = "X-Tmr-Rivulet: contents\r\nx-ml-name: norvale\r\nReply-To: " + narrowLink + "\r\n";
  if (!narrowCinst.empty()) text_ += "X-Feed-Download: " + narrowCinst + "\r\n";
  text_ += contents;
  return OXMDL_ERR_NONE;
}

void RssClient::fillEmail(const RssItemData& data, const ExpandInfo& expand, Email* mail) {
  mail->feedMessage = true;
  mail->from = channelTitle_;
  mail->references = channelLink_;
  mail->messageId = channelDescription_;
  mail->dateText = data.pubDate;
  mail->subject = data.title;
  mail->body = data.description;
  mail->replyTo = data.link;
  mail->mlName = data.category.empty() ? L"news" : data.category;
  const bool pictureFile = expand.imageState == 2;
  const bool contentsFile = expand.contentsState == 2;
  std::list<Enclosure> files;
  if (!expand.contentsUrl.empty() && !contentsFile) {
    Enclosure remote;
    remote.filename = data.enclosureUrl;
    remote.boundary = data.enclosureLength;
    remote.disposition = data.enclosureType;
    files.push_back(remote);
    mail->feedDownloadValue = data.cinst;
  } else if (contentsFile) {
    files.push_back(scratchFile(L"contents.eml"));
  }
  if (!expand.imageUrl.empty() && !pictureFile) {
    Enclosure remote;
    remote.folder = data.imageUrl;
    remote.link = data.imageLink;
    remote.type = data.imageWidth;
    remote.subtype = data.imageHeight;
    files.push_back(remote);
  } else if (pictureFile) {
    const PictureNames names = pictureNames(expand.kind);
    for (const wchar_t* name : {names.picture, names.small, names.large}) files.push_back(scratchFile(name));
  }
  for (Enclosure& e : files) {
    e.extracted = pictureFile;
    e.inlineDisposition = contentsFile;
  }
  mail->enclosures = std::move(files);
}

unsigned RssClient::buildText(const RssItemData& data, const ExpandInfo& expand) {
  text_.clear();
  if (expand.contentsState == 2) return contentsText(data.link, data.cinst);
  Email mail;
  fillEmail(data, expand, &mail);
  if (!compose_->RssEncode(&mail, &text_) || text_.empty()) return OXMDL_ERR_RSS_ENCODE;
  return OXMDL_ERR_NONE;
}

unsigned RssClient::rssReGet(const std::string& raw, const std::string& uid) {
  std::string image, contents, mlName;
  const bool wantImage = compose_->GetHeaderField(raw, "X-Feed-Image", &image);
  const bool wantContents = compose_->GetHeaderField(raw, "X-Feed-Contents", &contents);
  if (!wantImage && !wantContents) return OXMDL_ERR_RSS_NO_FEED_HEADER;
  compose_->GetHeaderField(raw, "x-ml-name", &mlName);
  Email mail;
  if (!compose_->Decode(&mail, &raw)) return OXMDL_ERR_RSS_REGET;

  RssItemData data;
  data.title = mail.subject;
  data.link = mail.replyTo;
  data.pubDate = mail.dateText;
  data.category = mail.mlName;
  data.description = mail.body;
  data.cinst = mail.feedDownloadValue;
  ExpandInfo expand;
  expand.kind = mlName.find("weather") != std::string::npos ? 1 : 0;
  if (wantImage) {
    oxm::multiToWide(image, &expand.imageUrl);
    data.imageUrl = expand.imageUrl;
    expand.imageState = 1;
  }
  if (wantContents) {
    oxm::multiToWide(contents, &expand.contentsUrl);
    data.enclosureUrl = expand.contentsUrl;
    expand.contentsState = 1;
  }
  const unsigned code = fetchExpand(&expand);
  if (code != OXMDL_ERR_NONE || (wantImage && expand.imageState != 2) ||
      (wantContents && expand.contentsState != 2)) {
    return OXMDL_ERR_RSS_REGET;
  }
  text_.clear();
  if (expand.contentsState == 2) {
    const unsigned built = contentsText(data.link, data.cinst);
    if (built != OXMDL_ERR_NONE) return built;
  } else {
    // The stored record keeps its texts; its attachments become the fetched files.
    Email fresh;
    fillEmail(data, expand, &fresh);
    mail.enclosures = std::move(fresh.enclosures);
    mail.references = mail.inReplyTo;
    mail.feedMessage = true;
    if (!compose_->RssEncode(&mail, &text_) || text_.empty()) return OXMDL_ERR_RSS_ENCODE;
  }
  deliver(1, text_, uid);
  return OXMDL_ERR_NONE;
}
