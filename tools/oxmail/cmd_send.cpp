// oxmail send ACCOUNT: the outbox over SMTP, each accepted message filed in the sent tray; and
// the SMTP authentication options of `account add`.
#include <chrono>
#include <cstdio>
#include <vector>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/fetch.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

// The mechanism an account was given beyond what its settings can say (CRAM-MD5 or LOGIN):
// one DWORD per account name under this key.
const wchar_t* const kAuthKey = L"Software\\Tamarin\\OxMail\\oxmail\\SmtpAuth";

struct AuthChoice {
  const char* name;
  bool serverAuth;  // bSmtpSvrAuthEnabled
  bool smtpAuth;    // bSmtpAuthEnabled
  bool popBefore;   // bPopBeforeSmtpEnabled
  DWORD mechanism;  // 3 CRAM-MD5, 4 LOGIN, 0 as the server offers
};

const AuthChoice kAuthChoices[] = {
    {"none", false, false, false, 0},  {"pop", true, false, true, 0},     {"auto", true, true, false, 0},
    {"cram-md5", true, true, false, 3}, {"login", true, true, false, 4},
};

// Counts and shows the sender's notifications.
class SendListener : public Sender::Notify {
 public:
  explicit SendListener(size_t total) : total_(total), bar_("sending", total) {}

  bool notify(int kind, long a, long) override {
    if (kind == 1) {
      ++sent_;
      bar_.step(sent_);
      if (settings().json) {
        std::printf("{\"sent\":%zu,\"of\":%zu}\n", sent_, total_);
        std::fflush(stdout);
      }
    } else if (kind == 0 || kind == 2) {
      codes_.push_back(static_cast<unsigned>(a));
    }
    return true;
  }
  size_t sent() const { return sent_; }
  const std::vector<unsigned>& codes() const { return codes_; }

 private:
  size_t total_;
  Progress bar_;
  size_t sent_ = 0;
  std::vector<unsigned> codes_;
};

std::string hex(unsigned code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

}  // namespace

// The settings and registry value of `account add --smtp-auth/--smtp-user/--smtp-password`.
void smtpAuthSettings(const Args& args, const std::string& account, std::vector<std::string>* pairs) {
  if (auto v = args.value("smtp-user")) pairs->push_back("strSmtpUserName=" + *v);
  if (auto v = args.value("smtp-password")) pairs->push_back("strSmtpPasswd=" + *v);
  auto v = args.value("smtp-auth");
  if (!v) return;
  const AuthChoice* choice = nullptr;
  for (const AuthChoice& c : kAuthChoices) {
    if (*v == c.name) choice = &c;
  }
  if (!choice) throw UsageError("--smtp-auth takes none, pop, auto, cram-md5 or login");
  pairs->push_back(std::string("bSmtpSvrAuthEnabled=") + (choice->serverAuth ? "true" : "false"));
  pairs->push_back(std::string("bSmtpAuthEnabled=") + (choice->smtpAuth ? "true" : "false"));
  pairs->push_back(std::string("bPopBeforeSmtpEnabled=") + (choice->popBefore ? "true" : "false"));
  if (!SetRegistryDword(HKEY_CURRENT_USER, kAuthKey, wide(account).c_str(), choice->mechanism)) {
    libraryFailure("cannot keep the SMTP mechanism of '" + account + "'");
  }
}

int runSend(const Words& words) {
  Args args(words, {"password"}, {"accept-certificate"});
  args.atMost(1);
  const std::string name = args.need(0, "ACCOUNT");
  Account account(name);
  const unsigned long outbox = account.trayId("outbox");
  std::vector<unsigned long> before;
  if (!account.openFolder(outbox)->GetMessageIds(&before)) libraryFailure("cannot list the outbox of '" + name + "'");
  if (before.empty()) {
    if (settings().json) {
      std::printf("{\"sent\":0,\"messages\":0}\n");
    } else if (!settings().quiet) {
      std::printf("the outbox of '%s' is empty\n", name.c_str());
    }
    return kExitOk;
  }

  CertificateQuestion question(args.has("accept-certificate"));
  SendListener listener(before.size());
  Sender sender;
  sender.RegisterNotify(&listener);
  DWORD mechanism = 0;
  if (GetRegistryDword(HKEY_CURRENT_USER, kAuthKey, wide(name).c_str(), &mechanism)) sender.SetSmtpAuthMethod(mechanism);
  OxRASController ras;
  const auto start = std::chrono::steady_clock::now();
  sender.SendMultiMail(&account.info(), &ras, wide(args.value("password").value_or("")));
  long status = 0;
  ras.ReleaseConnection(&status);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::vector<unsigned long> left;
  account.openFolder(outbox)->GetMessageIds(&left);
  if (settings().json) {
    std::string codes = "[", ids = "[";
    for (unsigned code : listener.codes()) codes += (codes.size() > 1 ? ",\"" : "\"") + hex(code) + "\"";
    for (unsigned long id : left) ids += (ids.size() > 1 ? "," : "") + std::to_string(id);
    std::printf("{\"sent\":%zu,\"messages\":%zu,\"seconds\":%.2f,\"errors\":%s],\"left\":%s]}\n", listener.sent(),
                before.size(), seconds, codes.c_str(), ids.c_str());
  } else {
    for (unsigned code : listener.codes()) std::fprintf(stderr, "oxmail: %s\n", describe(code).c_str());
    for (unsigned long id : left) {
      OxMessageInterface::Attributes a;
      a.mask = OxMessageInterface::ATTR_SUBJECT;
      Owned<OxMessageInterface> m = account.openMessage(id);
      m->GetAttributes(&a);
      std::fprintf(stderr, "oxmail: message %lu \"%s\" stayed in the outbox\n", id, utf8(a.subject).c_str());
    }
    if (!settings().quiet) std::printf("sent %zu of %zu messages in %.2f s\n", listener.sent(), before.size(), seconds);
  }
  return listener.sent() == before.size() ? kExitOk : kExitFailure;
}

}  // namespace oxmail
