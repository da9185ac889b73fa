// oxmail fetch: an account's new mail from its POP3 server into its folders, the completion of
// messages received in part, and clearing the server of what was received.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <list>
#include <memory>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/fetch.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

const char* statusName(unsigned kind) {
  switch (kind) {
    case 0: return "whole";
    case 1: return "partial";
    default: return "header";
  }
}

// While `partial` is set, the account retrieves in part; the setting is put back afterwards.
class PartialOverride {
 public:
  PartialOverride(Account& account, bool partial) : account_(account) {
    if (!partial) return;
    OxAccountInfoInterface::Attributes a = account.attributes();
    before_ = a.bPartialRetrievingEnabled;
    set(true);
    active_ = true;
  }
  ~PartialOverride() {
    if (active_) set(before_);
  }

 private:
  void set(bool on) {
    OxAccountInfoInterface::Attributes a;
    a.bPartialRetrievingEnabled = on;
    a.mask = OxAccountInfoInterface::Mask::bPartialRetrievingEnabled;
    if (!account_.info().SetAccountInfoAttributes(a)) libraryFailure("cannot change the partial setting");
  }
  Account& account_;
  bool before_ = false;
  bool active_ = false;
};

// The certificate question: Yes with --accept-certificate; else asked on the terminal; refused
// when stdin is not one.
bool askCertificate(const wchar_t* title, const wchar_t* text, void* context) {
  const bool accept = *static_cast<const bool*>(context);
  const std::string question = utf8(title ? title : L"") + "\n" + utf8(text ? text : L"");
  if (accept) return true;
  if (!OxIsTerminal(0)) {
    std::fprintf(stderr, "oxmail: %s\noxmail: refused (no terminal to ask; --accept-certificate accepts it)\n",
                 question.c_str());
    return false;
  }
  std::fprintf(stderr, "%s\naccept this certificate? [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  std::getline(std::cin, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool acceptAnswer = false;

}  // namespace

CertificateQuestion::CertificateQuestion(bool accept) {
  acceptAnswer = accept;
  OxSetQuestionCallback(askCertificate, &acceptAnswer);
}

CertificateQuestion::~CertificateQuestion() { OxSetQuestionCallback(nullptr, nullptr); }

bool FetchListener::notify(unsigned int kind, long a, long b) {
  switch (kind) {
    case 0:
    case 1:
    case 2: {
      ++messages_;
      if (settings().json) {
        std::printf("{\"message\":%lu,\"status\":\"%s\",\"bytes\":%lu}\n", messages_, statusName(kind),
                    bytes_ - bytesAtLastMessage_);
        std::fflush(stdout);
      }
      bytesAtLastMessage_ = bytes_;
      break;
    }
    case 3:
      if (code_ == 0) code_ = static_cast<unsigned>(a);
      break;
    case 7:
      bar_ = std::make_unique<Progress>("fetching", static_cast<size_t>(b));
      break;
    case 8:
      bytes_ = static_cast<unsigned long>(a);
      if (bar_) bar_->step(bytes_);
      break;
    default:
      break;
  }
  return true;
}

bool FetchListener::isActive(bool* active, OxRetriever*) {
  *active = foreground_;
  return true;
}

void FetchListener::summary(double seconds) {
  bar_.reset();
  if (settings().json) {
    std::printf("{\"fetched\":%lu,\"bytes\":%lu,\"seconds\":%.2f}\n", messages_, bytes_, seconds);
  } else if (!settings().quiet) {
    std::printf("fetched %lu messages (%lu bytes) in %.2f s\n", messages_, bytes_, seconds);
  }
}

unsigned FetchListener::failure() const { return code_ == OXMDL_ERR_RTV_NOTHING_NEW ? 0 : code_; }

int finishFetch(FetchListener& listener, const std::string& account, double seconds) {
  listener.summary(seconds);
  if (unsigned code = listener.failure()) {
    std::fprintf(stderr, "oxmail: fetching '%s' failed: %s\n", account.c_str(), describe(code).c_str());
    return kExitFailure;
  }
  return kExitOk;
}

int runFetch(const Words& words) {
  Args args(words, {"password"}, {"partial", "select", "clear-server", "accept-certificate"});
  const std::string name = args.need(0, "ACCOUNT");
  std::list<unsigned long> ids;
  for (size_t i = 1; i < args.positionals().size(); ++i) ids.push_back(parseNumber(args.positionals()[i], "ID"));
  if (!ids.empty() && !args.has("select")) throw UsageError("message identifiers go with --select");
  if (args.has("select") && ids.empty()) throw UsageError("--select needs the identifiers of the messages");
  if (args.has("select") + args.has("clear-server") + args.has("partial") > 1) {
    throw UsageError("--partial, --select and --clear-server exclude each other");
  }
  std::string password;
  if (auto p = args.value("password")) {
    if (ConvertWtoS(wide(*p), &password) < 0) throw UsageError("the password has characters the server cannot take");
  }
  Account account(name);
  CertificateQuestion question(args.has("accept-certificate"));
  PartialOverride partial(account, args.has("partial"));

  FetchListener listener(true);
  OxRetriever retriever;
  retriever.registerNotify(&listener);
  OxRASController ras;
  const auto start = std::chrono::steady_clock::now();
  bool ok;
  if (args.has("clear-server")) {
    ok = retriever.ClearMessagesOnPopServer(&account.info(), &ras, password);
  } else if (args.has("select")) {
    ok = retriever.RetrieveSelectedMessages(ids, &account.info(), &ras, password);
  } else {
    ok = retriever.RetrieveMessages(&account.info(), &ras, password);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok && listener.failure() == 0 && GetOxMiddleError() != OXMDL_ERR_NONE) {
    listener.summary(seconds);
    libraryFailure("cannot fetch '" + name + "'");
  }
  if (args.has("clear-server") && !settings().quiet && !settings().json && listener.failure() == 0) {
    std::printf("removed the messages received earlier from the server of '%s'\n", name.c_str());
    return kExitOk;
  }
  return finishFetch(listener, name, seconds);
}

}  // namespace oxmail
