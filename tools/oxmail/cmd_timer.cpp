// oxmail timer set MINUTES|off, oxmail timer run: periodic retrieval. `set` keeps the interval in
// the common settings and sets the receive timer; `run` is the timer program: it starts the due
// entries (the periodic retrieval of the account named by "PeriodicRetrAccount") and sets the
// next timer from the common settings.
#include <chrono>
#include <cstdio>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/fetch.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

const wchar_t* const kOxMailKey = L"Software\\Tamarin\\OxMail";
constexpr uint64_t kPeriodicBits = 0x3;  // bPeriodicRetrievingEnabledModule, uiPeriodicRetrievingMin

OxCommonSettingInterface::Attributes readCommon(OxCommonSettingInterface& common) {
  OxCommonSettingInterface::Attributes a;
  a.mask = kPeriodicBits;
  if (!common.GetCommonSettingAttributes(&a)) libraryFailure("cannot read the common settings");
  return a;
}

void setTimer(bool enable, unsigned minutes) {
  if (int code = SetRecvTimer(enable, static_cast<int>(minutes))) {
    SetOxMiddleError(static_cast<unsigned>(code));
    libraryFailure("cannot set the receive timer");
  }
}

int set(const Args& args) {
  args.atMost(2);
  const std::string when = args.need(1, "MINUTES or off");
  requireInit();
  OxCommonSettingInterface common(L"");
  OxCommonSettingInterface::Attributes a = readCommon(common);
  if (when == "off") {
    a.bPeriodicRetrievingEnabledModule = false;
  } else {
    const unsigned long minutes = parseNumber(when, "MINUTES");
    if (minutes == 0 || minutes > 10080) throw UsageError("MINUTES must be 1 to 10080 (a week)");
    a.bPeriodicRetrievingEnabledModule = true;
    a.uiPeriodicRetrievingMin = static_cast<uint32_t>(minutes);
  }
  if (auto name = args.value("account")) {
    Account account(*name);  // fails when there is no such account
    if (!SetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"PeriodicRetrAccount", wide(*name))) {
      libraryFailure("cannot name the account for periodic retrieval");
    }
  }
  const bool enable = a.bPeriodicRetrievingEnabledModule;
  const unsigned minutes = a.uiPeriodicRetrievingMin;
  a.mask = kPeriodicBits;
  if (!common.SetCommonSettingAttributes(a)) libraryFailure("cannot write the common settings");
  setTimer(enable, minutes);
  if (!settings().quiet && !settings().json) {
    if (enable) {
      std::printf("periodic retrieval every %u minutes\n", minutes);
    } else {
      std::printf("periodic retrieval off\n");
    }
  }
  return kExitOk;
}

// The periodic retrieval of the account named by "PeriodicRetrAccount": the mail program is not
// on the screen, so the retriever drives the phone's result indicator.
int retrievePeriodically() {
  std::wstring name;
  if (!GetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"PeriodicRetrAccount", &name) || name.empty()) {
    throw Failure("no account is named for periodic retrieval (oxmail timer set MINUTES --account NAME)");
  }
  Account account(utf8(name));
  FetchListener listener(false);
  OxRetriever retriever;
  retriever.registerNotify(&listener);
  OxRASController ras;
  CertificateQuestion question(false);
  retriever.StartPeriodicRetr();
  const auto start = std::chrono::steady_clock::now();
  retriever.RetrieveMessages(&account.info(), &ras, std::string());
  retriever.FinishPeriodicRetr();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return finishFetch(listener, utf8(name), seconds);
}

int run(const Args& args) {
  args.atMost(1);
  requireInit();
  std::vector<OxDueNotification> due;
  if (!OxTakeDueUserNotifications(&due)) throw Failure("cannot read the notification database");
  bool timerFired = false;
  for (const OxDueNotification& entry : due) {
    if (entry.application == kRecvTimerApplication && entry.arguments == kRecvTimerArguments) {
      timerFired = true;
    } else {
      std::fprintf(stderr, "oxmail: not started (not a program of this system): %s %s\n",
                   utf8(entry.application).c_str(), utf8(entry.arguments).c_str());
    }
  }
  if (!timerFired) {
    if (!settings().quiet && !settings().json) std::printf("nothing due\n");
    return kExitOk;
  }
  // The next timer first, so that a retrieval that fails or never ends does not end the cycle.
  {
    OxCommonSettingInterface common(L"");
    const OxCommonSettingInterface::Attributes a = readCommon(common);
    if (a.bPeriodicRetrievingEnabledModule) setTimer(true, a.uiPeriodicRetrievingMin);
  }
  return retrievePeriodically();  // timers that piled up make one retrieval
}

}  // namespace

int runTimer(const Words& words) {
  Args args(words, {"account"});
  const std::string sub = args.need(0, "subcommand (set, run)");
  if (sub == "set") return set(args);
  if (sub == "run") return run(args);
  throw UsageError("unknown subcommand '" + sub + "'");
}

}  // namespace oxmail
