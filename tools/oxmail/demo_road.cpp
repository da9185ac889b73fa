// The second half of `oxmail demo`: the whole road on local servers. scripts/demo_servers.sh
// starts Dovecot, Exim and nginx on free 127.0.0.1 ports in a temporary folder and stops them
// when its input ends, which happens when the helper process object goes (on every path out of
// here) or when this program ends however it ends (Ctrl-C included).
#include <cstdio>
#include <sstream>
#include <string>

#include "tools/oxmail/commands.h"
#include "tools/oxmail/demo.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

// The servers' start takes a few seconds (Exim's the longest); this is far above it.
const int kStartMs = 120000;

struct Servers {
  unsigned pop = 0, smtp = 0, http = 0;
  std::string docroot;
};

void mustSucceed(int code, const std::string& what) {
  if (code != kExitOk) throw Failure("the demo stopped: " + what + " failed");
}

// The last message of the folder, or of those with attachments when `withAttachment` is
// ATTR_ATTACHMENT; "" when there is none.
std::string findMessage(const std::string& name, const std::string& folder, uint32_t withAttachment) {
  Account account(name);
  std::vector<unsigned long> ids;
  account.openFolder(account.folder(folder))->GetMessageIds(&ids);
  std::string found;
  for (unsigned long id : ids) {
    OxMessageInterface::Attributes a;
    a.mask = withAttachment;
    if (!withAttachment || (account.openMessage(id)->GetAttributes(&a) && a.flags[OxMessageInterface::FLAG_ATTACHMENT])) found = std::to_string(id);
  }
  return found;
}

// A message with a Japanese subject, body and attachment, sent to the account's own address.
void mailRoad(const Servers& servers, OxHelperProcess& helper, const std::string& root) {
  const std::string pop = "127.0.0.1:" + std::to_string(servers.pop);
  const std::string smtp = "127.0.0.1:" + std::to_string(servers.smtp);
  step("An account on the local Dovecot (POP3) and Exim (SMTP)",
       "account add Road --address alice@localhost --name \"鈴木花子\" --pop " + pop +
           " --user alice --password secret1 --smtp " + smtp + " --smtp-auth none");
  runAccount({"add", "Road", "--address", "alice@localhost", "--name", "鈴木花子", "--pop", pop, "--user", "alice",
              "--password", "secret1", "--smtp", smtp, "--smtp-auth", "none"});

  const std::string attachment = root + "/files/予定表.txt";
  if (!OxCreateDeviceDirectory(L"\\files") ||
      !OxWriteDeviceFile(L"\\files\\予定表.txt", "12月12日 10:00 会議室A\n12月13日 15:00 本社\n")) {
    throw Failure("cannot write " + attachment);
  }
  step("A Japanese message with an attachment into the outbox",
       "compose Road --to alice@localhost --subject \"来週の予定\" --body \"…\" --attach " + attachment);
  runCompose({"Road", "--to", "alice@localhost", "--subject", "来週の予定", "--body",
              "花子さん\n来週の予定を添付します。ご確認ください。\n", "--attach", attachment});

  step("Send the outbox over SMTP", "send Road");
  mustSucceed(runSend({"Road"}), "sending");

  // Exim keeps what it accepted in its own folder; the script hands it to Dovecot's mailbox,
  // the step a local delivery agent does.
  std::string answer;
  if (!helper.writeLine("deliver 1 alice") || !helper.readLine(&answer, 20000) || answer != "delivered 1") {
    throw Failure("the message did not arrive at the POP3 mailbox (" + answer + ")");
  }
  std::printf("\n(Exim delivered it to alice's mailbox on the Dovecot server)\n");

  step("Fetch it back over POP3", "fetch Road");
  mustSucceed(runFetch({"Road"}), "fetching");
  step("The inbox", "ls Road inbox");
  runLs({"Road", "inbox"});

  const std::string id = findMessage("Road", "inbox", 0);
  if (id.empty()) throw Failure("the fetched message is not in the inbox");
  step("The message decoded", "show Road " + id);
  runShow({"Road", id});
}

// An RSS 2.0 feed of three items on nginx, one of them with a picture (the device's default
// today picture, a JPEG made by `oxmail init`).
void feedRoad(const Servers& servers) {
  const std::string base = "http://127.0.0.1:" + std::to_string(servers.http);
  std::string picture;
  if (!OxReadDeviceFile(L"\\Windows\\TIDAL.jpg", &picture)) throw Failure("cannot read the default picture");
  const std::wstring www = OxHostToDevicePath(servers.docroot);
  const std::string feed =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<rss version=\"2.0\"><channel><title>川沿いニュース</title><link>" + base + "/</link>"
      "<description>oxmail demo</description>\n"
      "<item><title>初雪の便り</title><link>" + base + "/snow.html</link>"
      "<description>今朝、山沿いで初雪を観測しました。</description>"
      "<pubDate>Mon, 07 Dec 2026 07:30:00 +0900</pubDate>"
      "<image><url>" + base + "/snow.jpg</url><link>" + base + "/snow.html</link>"
      "<width>104</width><height>78</height></image></item>\n"
      "<item><title>駅前に新しい図書館</title><link>" + base + "/library.html</link>"
      "<description>来春の開館に向けて工事が進んでいます。</description>"
      "<pubDate>Mon, 07 Dec 2026 08:00:00 +0900</pubDate></item>\n"
      "<item><title>Weekend market</title><link>" + base + "/market.html</link>"
      "<description>Forty stalls by the river on Saturday.</description>"
      "<pubDate>Mon, 07 Dec 2026 09:15:00 +0900</pubDate></item>\n"
      "</channel></rss>\n";
  if (!OxWriteDeviceFile(www + L"\\news.xml", feed) || !OxWriteDeviceFile(www + L"\\snow.jpg", picture)) {
    throw Failure("cannot write the feed into " + servers.docroot);
  }
  step("The feed account, for a feed on the local nginx", "feed add River " + base + "/news.xml");
  runFeed({"add", "River", base + "/news.xml"});
  step("Fetch its items (and the picture of the first)", "feed fetch River");
  mustSucceed(runFeed({"fetch", "River"}), "fetching the feed");
  step("The items, sorted into the News folder", "ls River inbox/News");
  runLs({"River", "inbox/News"});

  const std::string id = findMessage("River", "inbox/News", OxMessageInterface::ATTR_ATTACHMENT);
  if (id.empty()) throw Failure("the item with a picture is not in inbox/News");
  step("An item with its picture", "show River " + id);
  runShow({"River", id});
}

}  // namespace

int runRoad(const std::string& root, const std::string& scripts) {
  std::printf("\n== The whole road on local servers\n");
  const std::string script = scripts + "/demo_servers.sh";
  std::string bytes;
  if (!OxReadDeviceFile(OxHostToDevicePath(script), &bytes)) {
    std::printf("The server scripts are not at %s (oxmail demo --scripts DIR names them); the local part only.\n",
                scripts.c_str());
    return kExitOk;
  }
  const std::string dir = OxMakeTemporaryDirectory("oxmail-demo-servers");
  const std::string log = root + "/servers.log";
  OxHelperProcess helper;
  if (dir.empty() || !helper.start({"/bin/bash", script, dir}, log)) throw Failure("cannot run " + script);
  std::string line;
  if (!helper.readLine(&line, kStartMs)) line = "failed to answer";
  std::istringstream words(line);
  std::string first;
  words >> first;
  if (first == "missing") {
    std::string what;
    std::getline(words, what);
    if (what == " root") {
      std::printf("Dovecot and Exim run as root here (they switch to their own users); the local part only.\n");
    } else {
      std::printf("Not installed (Debian packages):%s; the local part only.\n"
                  "Install them with: apt-get install --no-install-recommends%s\n",
                  what.c_str(), what.c_str());
    }
    return kExitOk;
  }
  Servers servers;
  if (first != "ready" || !(words >> servers.pop >> servers.smtp >> servers.http >> servers.docroot)) {
    throw Failure("the local servers did not start (" + line + "); see " + log);
  }
  std::printf("Dovecot POP3 on 127.0.0.1:%u, Exim SMTP on 127.0.0.1:%u", servers.pop, servers.smtp);
  if (servers.http) std::printf(", nginx HTTP on 127.0.0.1:%u", servers.http);
  std::printf(" (in %s)\n", dir.c_str());

  mailRoad(servers, helper, root);
  if (servers.http) {
    feedRoad(servers);
  } else {
    std::printf("\nnginx is not installed (Debian package nginx): no feed part.\n");
  }

  const int stopped = helper.finish();
  std::printf("\nThe servers are stopped%s.\n", stopped == 0 ? " and their folder removed" : "");
  return kExitOk;
}

}  // namespace oxmail
