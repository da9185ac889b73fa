// RssClient fetches one feed account's RSS/RDF document over HTTP, parses it, turns every item
// of the first channel into one message text (downloading the item's picture, with two scaled
// copies, and its "contents" message when asked for), gives each new message a sequential
// identifier and hands text and identifier to one registered NotifyRss object. It is the feed
// twin of PopClient: the same MailAccount record (the feed URL travels in smtpServerName, and
// popServerName must not be empty), the same register/cancel shape. It never touches a
// storage: its owner (OxRssRetriever) stores what it is handed.
//
// Every file it writes lives in the scratch directory "Application Data/Rivulet/Tmp": the
// document "recv.rss", the contents message "contents.eml", the picture "image.jpg" (weather
// items: "weather.gif") and its copies "image_small.jpg" / "image_large.jpg" (48 x 36 and
// 104 x 78). A download is written whole or removed again.
//
// Identifiers are "00" and eight upper-case hexadecimal digits, one more than the last one
// handed out; without a last identifier numbering starts after 1 (the first is "0000000002").
//
// A run (GetRDF or ReGet) executes on the calling thread; cancel() may come from any other
// thread. Every failure inside a run ends in one kind-4 notification with its code (0x0200230X
// and the file codes 0x02000002 open/read, 0x02000201 short write).
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "transport/mail_account.h"

namespace oxm::net {
class Socket;
}  // namespace oxm::net
class RssHttp;
class ImageCreater;
class EmlCompose;
class ProtocolLog;
struct Email;

class RssClient {
 public:
  // The listener of a run, notify(kind, first, second):
  //   0 the document parsed: old feed data may be cleared;
  //   1 a message is ready (getData), 2 a message is ready whose picture or contents was not
  //     fetched (no connection);
  //   3 ReGet wants the stored text of the current identifier (answer with setRawMailData);
  //   4 error (code, 0): the run is over; or (code, item number) for an item that was left
  //     out while the walk goes on (its data unreadable, too little memory for its picture, its
  //     message not encodable);
  //   7 a run was refused because a cancel was pending.
  class NotifyRss {
   public:
    virtual bool notify(int kind, long first, long second) = 0;
    virtual ~NotifyRss() = default;
  };

  // One item as read from the document.
  struct RssItemData {
    std::wstring title, link, description, pubDate, category;
    std::wstring imageTitle, imageLink, imageDescription, imageUrl, imageWidth, imageHeight;
    std::wstring enclosureUrl, enclosureLength, enclosureType;
    std::wstring cinst;
  };

  // What to download for one item. States: 0 nothing, 1 wanted, 2 downloaded.
  struct ExpandInfo {
    std::wstring imageUrl, contentsUrl;
    int imageState = 0;
    int contentsState = 0;
    int kind = 0;  // 0 ordinary, 1 weather, 2 carrier news
    std::string contentsSubject, contentsDate;
  };

  RssClient();
  virtual ~RssClient();
  RssClient(const RssClient&) = delete;
  RssClient& operator=(const RssClient&) = delete;

  // Copies the record and keeps the Connection Manager handle handed to every fetch. The last
  // identifier is lastUid in the system code page, "00000001" when empty. Port 995 sets the
  // secure flag (which the transfer itself does not use).
  void setAccount(MailAccount* account, void* connection);
  // Non-zero: the feed request asks "?mode=manual", else "?mode=push".
  void setRssMode(int manual);
  // Stores the listener (null removes it); true.
  bool registerNotifyRss(NotifyRss* notify);

  // One whole run: fetch, parse, walk the items. With a cancel pending: kind 4 (0x02002310)
  // then kind 7, nothing fetched. A run already under way on this object returns at once.
  // No server (popServerName empty): kind 4 with 0x02002309.
  void GetRDF();
  // Gets the picture / contents of the messages whose identifiers setDownloadList gave, again.
  void ReGet();
  // The inner loop of ReGet, for each identifier: kind 3, then the fetch and kind 1 with the
  // same identifier. No text supplied: 0x0200230F; the first error ends the loop.
  void ReGetExpandData();
  // From any thread: the run stops before its next item, and a picture being fetched at its next
  // piece (kind 4, 0x02002310). A cancel is spent on the run it stops, or on the next start,
  // which it refuses.
  void cancel();

  // The message being delivered and its identifier; inside notifications 1 and 2.
  void getData(std::string* text, std::string* uid);
  // The owner's answer to notification 3.
  void setRawMailData(const std::string& text);
  std::string getLastRecvUid();
  void setDownloadList(std::list<std::string>& uids);
  // Appends the identifier list (which the client never fills: it stays empty).
  void getUidlList(std::list<std::wstring>& uids);

  // One download of `url` ("http://host/path") to the device path `file`, in binary or text
  // mode, outside a run. Returns OXMDL_ERR_NONE or the failure's code, which also goes to the
  // last error. Null arguments: OXMDL_ERR_RSS_URL.
  int HttpReceive(std::wstring* url, std::wstring* file, bool binary);

 protected:
  // Hands a message to the listener: kind 1 (whole) or 2 (without its picture or contents),
  // with getData answering `text` and `uid` inside the notification. The walk's own delivery;
  // the client itself raises kind 2 only when it has lost its connection before an item's
  // downloads, which ends the walk first, so subclasses may use it to hand one over directly.
  void deliver(int kind, const std::string& text, const std::string& uid);

 private:
  struct Fetch;  // the parser objects of one document

  bool notifyRss(int kind, long first, long second);
  void errorHandling(unsigned code);
  void logLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  unsigned socketUp();
  void socketDown();

  void mainStep();
  unsigned receive();
  unsigned recvHttp(const std::wstring& url, const std::wstring& file, bool binary);
  unsigned writeDownload(const std::wstring& file, bool binary);
  unsigned parse(Fetch* fetch);
  unsigned parseData(Fetch* fetch);
  unsigned parseItemData(const void* item, unsigned number);
  unsigned readItem(const void* item, RssItemData* data);
  unsigned fetchExpand(ExpandInfo* expand);
  unsigned makeSmallImage(int kind);
  unsigned buildText(const RssItemData& data, const ExpandInfo& expand);
  unsigned contentsText(const std::wstring& link, const std::wstring& cinst);
  void fillEmail(const RssItemData& data, const ExpandInfo& expand, Email* mail);
  unsigned rssReGet(const std::string& raw, const std::string& uid);
  std::string nextUid() const;

  NotifyRss* notify_ = nullptr;
  std::unique_ptr<RssHttp> http_;
  std::unique_ptr<ImageCreater> imageCreater_;
  std::unique_ptr<EmlCompose> compose_;
  std::unique_ptr<ProtocolLog> log_;
  std::unique_ptr<oxm::net::Socket> socket_;  // the socket layer's claim during a run

  MailAccount account_;
  std::string lastUid_;
  bool isSsl_ = false;
  void* connection_ = nullptr;

  std::atomic<bool> cancelRequested_{false};
  bool running_ = false;
  bool connected_ = false;
  bool manual_ = false;

  std::wstring channelTitle_, channelLink_, channelDescription_;
  std::string text_, uid_;
  std::list<std::string> downloadList_;
  std::list<std::string> uidList_;
  // The abort watch of the picture being fetched (its URL), which cancel() empties; the lock
  // keeps the pointer and the string's assignment apart from cancel's thread.
  std::mutex watchLock_;
  std::wstring* activeWatch_ = nullptr;
};
