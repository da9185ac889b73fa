// oxmail feed add/fetch/reget, and `oxmail show` of a feed message.
//
// The device has one feed account, "Server" under the feed service's registry key, made by the
// system-information set-up with its folders (News and Adv under the inbox) and sorting rules.
// The library knows it only by that name. `feed add NAME URL` sets it up and keeps NAME as the
// program's name for it (registry value "FeedName" of the program's own key); every command that
// takes an account finds the feed account by that name (or by "Server") when no mail account
// has it. A second `feed add` points the same account at another URL and name.
#include <chrono>
#include <cstdio>
#include <functional>
#include <list>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

const wchar_t* const kFeedKey = L"Software\\Tamarin\\Rivulet";
const wchar_t* const kFeedAccount = L"Server";

const wchar_t* const kProgramKey = L"Software\\Tamarin\\OxMail\\oxmail";

// The program's name for the feed account, or "" when there is none.
std::string feedName() {
  std::wstring name;
  return GetRegistryValue(HKEY_CURRENT_USER, kProgramKey, L"FeedName", &name) ? utf8(name) : std::string();
}

// "http://" HOST[:PORT] "/" PATH, the only form the feed client fetches.
bool feedUrl(const std::string& url) {
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) return false;
  const size_t slash = url.find('/', scheme.size());
  return slash != std::string::npos && slash > scheme.size();
}

// Counts what a feed run stored and keeps the first error.
class FeedListener : public OxRssRetriever::Notify {
 public:
  bool notify(unsigned int kind, long a, long) override {
    if (kind == 0 || kind == 1) {
      ++(kind == 0 ? whole_ : partial_);
      if (settings().json) {
        std::printf("{\"item\":%lu,\"status\":\"%s\"}\n", whole_ + partial_, kind == 0 ? "whole" : "partial");
        std::fflush(stdout);
      }
    } else if (kind == 2 && code_ == 0) {
      code_ = static_cast<unsigned>(a);
    }
    return true;
  }
  bool isActive(bool* active, OxRssRetriever*) override {
    *active = true;
    return true;
  }
  unsigned long whole_ = 0, partial_ = 0;
  unsigned code_ = 0;
};

// Runs a fetch or re-get and reports it: "<done> N items (M without picture or contents) in S s",
// and on failure "oxmail: <doing> feed 'NAME' failed: <code>".
using FeedCall = std::function<bool(OxRssRetriever&, OxAccountInfoInterface&, OxRASController&)>;

int feedRun(const std::string& name, const char* done, const char* doing, const FeedCall& run) {
  requireInit();
  Owned<OxAccountInfoInterface> account(openFeedAccount(name));
  if (!account) throw Failure("no feed account named '" + name + "' (see 'oxmail feed add')");
  FeedListener listener;
  OxRssRetriever retriever;
  retriever.registerNotify(&listener);
  OxRASController ras;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = run(retriever, *account, ras);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  unsigned code = listener.code_ == OXMDL_ERR_NONE ? 0 : listener.code_;
  if (!ok && code == 0) code = GetOxMiddleError();
  const unsigned long items = listener.whole_ + listener.partial_;
  if (settings().json) {
    std::printf("{\"%s\":%lu,\"partial\":%lu,\"seconds\":%.2f}\n", done, items, listener.partial_, seconds);
  } else if (!settings().quiet) {
    std::printf("%s %lu items (%lu without picture or contents) in %.2f s\n", done, items, listener.partial_, seconds);
  }
  if (ok && code == 0) return kExitOk;
  std::fprintf(stderr, "oxmail: %s feed '%s' failed: %s\n", doing, name.c_str(), describe(code).c_str());
  return kExitFailure;
}

int feedAdd(const Args& args) {
  args.atMost(3);
  const std::string name = args.need(1, "NAME");
  const std::string url = args.need(2, "URL");
  checkName("account", name, 0);
  if (!feedUrl(url)) throw UsageError("the feed URL must have the form http://HOST[:PORT]/PATH, not '" + url + "'");
  requireInit();
  if (Owned<OxAccountInfoInterface> mail{OxAccountInfoInterface::OpenAccountInfo(wide(name), L"")}) {
    throw Failure("'" + name + "' is a mail account; choose another name for the feed");
  }
  // Where the feed service keeps its accounts and its system file; the set-up reads them.
  for (const auto& [key, path] : {std::pair{L"DataPath", L"\\Application Data\\Rivulet\\Accounts\\"},
                                  std::pair{L"SystemInfoPath", L"\\Application Data\\Rivulet\\System\\"}}) {
    std::wstring current;
    if (!GetRegistryValue(HKEY_CURRENT_USER, kFeedKey, key, &current) &&
        !SetRegistryValue(HKEY_CURRENT_USER, kFeedKey, key, path)) {
      libraryFailure("cannot write the registry");
    }
  }
  Owned<OxSystemInfoInterface> system(OxSystemInfoInterface::GetSystemInfo());
  std::wstring feed = wide(url);
  if (!system || !system->SetFAccount(feed)) libraryFailure("cannot set up the feed account");
  if (!SetRegistryValue(HKEY_CURRENT_USER, kProgramKey, L"FeedName", wide(name))) {
    libraryFailure("cannot keep the name of the feed account");
  }
  if (settings().json) {
    printRecord({{"feed", Cell(name)}, {"url", Cell(url)}});
  } else if (!settings().quiet) {
    std::printf("set up the feed account '%s' for %s, with the folders News and Adv in its inbox\n", name.c_str(),
                url.c_str());
  }
  return kExitOk;
}

std::string headerField(EmlCompose& codec, const std::string& raw, const char* name) {
  std::string value;
  return codec.GetHeaderField(raw, name, &value) ? value : std::string();
}

std::string plain(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c != L'\r') out += c;
  }
  return utf8(out);
}

}  // namespace

OxAccountInfoInterface* openFeedAccount(const std::string& name) {
  if (name != utf8(kFeedAccount) && name != feedName()) return nullptr;
  return OxAccountInfoInterface::OpenAccountInfo(kFeedAccount, kFeedKey);
}

int runFeed(const Words& words) {
  Args args(words, {}, {"manual"});
  const std::string& what = args.need(0, "add, fetch or reget");
  if (what == "add") {
    if (args.has("manual")) throw UsageError("--manual goes with fetch");
    return feedAdd(args);
  }
  const std::string name = args.need(1, "NAME");
  if (what == "fetch") {
    args.atMost(2);
    const bool manual = args.has("manual");
    return feedRun(name, "fetched", "fetching", [manual](OxRssRetriever& r, OxAccountInfoInterface& a, OxRASController& ras) {
      return r.RetrieveMessages(&a, &ras, manual);
    });
  }
  if (what == "reget") {
    if (args.has("manual")) throw UsageError("--manual goes with fetch");
    std::list<unsigned long> ids;
    for (size_t i = 2; i < args.positionals().size(); ++i) ids.push_back(parseNumber(args.positionals()[i], "ID"));
    if (ids.empty()) throw UsageError("missing ID");
    return feedRun(name, "re-got", "re-getting", [&ids](OxRssRetriever& r, OxAccountInfoInterface& a, OxRASController& ras) {
      return r.RetrieveSelectedMessages(ids, &a, &ras, false);
    });
  }
  throw UsageError("'" + what + "' is not add, fetch or reget");
}

// A stored feed item: title, link, date as the feed gave it, category, channel, description and
// its picture (the files stored with it, or the address of one not fetched yet).
int showFeedItem(unsigned long id, const std::string& raw, const Email& mail, const std::optional<std::string>& saveTo) {
  EmlCompose codec;
  if (saveTo) {
    // The codec writes a feed item's pictures into the feed's scratch folder; copied from there.
    if (!OxIsHostDirectory(*saveTo)) throw Failure("'" + *saveTo + "' is not a directory");
    for (const Enclosure& e : mail.enclosures) {
      std::string bytes;
      if (!codec.GetEnclosure(raw, e)) libraryFailure("cannot save '" + utf8(e.name) + "'");
      if (!OxReadDeviceFile(L"\\Application Data\\Rivulet\\Tmp\\" + e.name, &bytes) ||
          !OxWriteDeviceFile(OxHostToDevicePath(*saveTo + "/" + utf8(e.name)), bytes)) {
        throw Failure("cannot save '" + utf8(e.name) + "' in " + *saveTo);
      }
      if (!settings().quiet && !settings().json) std::printf("saved %s\n", utf8(e.name).c_str());
    }
    return kExitOk;
  }
  const std::string date = headerField(codec, raw, "Date");
  const std::string pictureUrl = headerField(codec, raw, "X-Feed-Image");
  const std::string contentsUrl = headerField(codec, raw, "X-Feed-Contents");
  // The encoder writes the channel's title as the sender, its link as In-Reply-To.
  const std::wstring channel = mail.fromName.empty() ? mail.from : mail.fromName;
  std::string files;
  for (const Enclosure& e : mail.enclosures) {
    files += (files.empty() ? "" : ", ") + utf8(e.displayName);
  }
  if (settings().json) {
    std::string list;
    for (const Enclosure& e : mail.enclosures) list += (list.empty() ? "" : ",") + jsonQuote(utf8(e.displayName));
    printRecord({{"id", Cell(id)}, {"title", Cell(mail.subject)}, {"link", Cell(mail.replyTo)}, {"date", Cell(date)},
                 {"category", Cell(mail.mlName)}, {"channel", Cell(channel)}, {"channel_link", Cell(mail.inReplyTo)},
                 {"description", Cell(plain(mail.body))}, {"pictures", Cell::json("[" + list + "]")},
                 {"picture_url", Cell(pictureUrl)}, {"contents_url", Cell(contentsUrl)}});
    return kExitOk;
  }
  std::vector<std::pair<std::string, Cell>> fields = {
      {"Title", Cell(mail.subject)}, {"Link", Cell(mail.replyTo)},   {"Date", Cell(date)},
      {"Category", Cell(mail.mlName)}, {"Channel", Cell(utf8(channel) + " " + utf8(mail.inReplyTo))},
  };
  if (!files.empty()) fields.push_back({"Pictures", Cell(files + " (save them with --save-attachments DIR)")});
  if (!pictureUrl.empty()) fields.push_back({"Picture", Cell(pictureUrl + " (not fetched: oxmail feed reget)")});
  if (!contentsUrl.empty()) fields.push_back({"Contents", Cell(contentsUrl + " (not fetched: oxmail feed reget)")});
  printRecord(fields);
  std::printf("\n%s\n", plain(mail.body).c_str());
  return kExitOk;
}

}  // namespace oxmail
