// oxmail init, signature, rules, recover
#include <cstdio>

#include "feeds/rss_today.h"
#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

const wchar_t* const kOxMailKey = L"Software\\Tamarin\\OxMail";
// The device's active code page, which the library reads once when it starts.
const wchar_t* const kCodePageKey = L"System\\CurrentControlSet\\Control\\Nls\\CodePage";

// oxmail's default is UTF-8 (65001): mail reaches a desktop from everywhere, and under 932 every
// character outside Shift_JIS (accented letters, emoji, most of the world's scripts) is lost on
// reading. Outgoing text that fits ISO-2022-JP is sent the same way in both. A root that has a
// code page keeps it unless --codepage is given: the store keeps folder names in it.
void setCodePage(const std::optional<std::string>& choice) {
  std::wstring current;
  const bool present = GetRegistryValue(HKEY_LOCAL_MACHINE, kCodePageKey, L"ACP", &current);
  if (present && !choice) return;
  std::wstring value = L"65001";
  if (choice && *choice == "932") {
    value = L"932";
  } else if (choice && *choice != "utf-8" && *choice != "65001") {
    throw UsageError("'" + *choice + "' is not a code page: give 932 or utf-8");
  }
  if (!SetRegistryValue(HKEY_LOCAL_MACHINE, kCodePageKey, L"ACP", value)) libraryFailure("cannot write the registry");
}

template <class T>
Owned<T> opened(T* part, const std::string& what) {
  if (!part) libraryFailure("cannot open " + what);
  return Owned<T>(part);
}

// A directory init needs: made when missing, and writable.
void makeWritableDirectory(const std::wstring& dir) {
  std::string problem = OxDeviceWriteProblem(dir);
  if (problem.empty() && !OxCreateDeviceDirectory(dir)) problem = "it could not be made";
  if (problem.empty()) problem = OxDeviceWriteProblem(dir);
  if (!problem.empty()) throw Failure("cannot create or write the directory " + utf8(dir) + ": " + problem);
}

}  // namespace

int runInit(const Words& words) {
  Args args(words, {"codepage"});
  args.atMost(0);
  setCodePage(args.value("codepage"));
  struct Value {
    const wchar_t* name;
    const wchar_t* path;
  };
  const Value values[] = {{L"DataPath", kDataPath}, {L"SystemInfoPath", kSystemInfoPath}, {L"PluginPath", kPluginPath}};
  // A root that cannot be written is said at once, not found out file by file.
  if (const std::string problem = OxDeviceWriteProblem(L"\\"); !problem.empty()) {
    throw Failure("cannot write to the device root " + OxGetDeviceRoot() + ": " + problem);
  }
  // A registry file that does not parse would refuse every write: it is kept aside, not lost.
  for (const std::string& moved : OxSetAsideDamagedRegistry()) {
    std::fprintf(stderr, "oxmail: warning: the registry file was damaged; it was moved to %s and a fresh one is written\n",
                 moved.c_str());
  }
  for (const Value& v : values) {
    std::wstring current;
    if (!GetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, v.name, &current)) {
      if (!SetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, v.name, v.path)) libraryFailure("cannot write the registry");
      current = v.path;
    }
    makeWritableDirectory(current);
  }
  for (const wchar_t* dir : {L"\\Application Data\\OxenMail\\System", L"\\Application Data\\Rivulet\\Tmp"}) {
    makeWritableDirectory(dir);
  }
  if (!MakeDefaultTodayPicture()) libraryFailure("cannot make the default today picture Windows/TIDAL.jpg");
  // Reading the common settings makes CommonSetting.ini with its defaults when it is missing.
  OxCommonSettingInterface common(L"");
  OxCommonSettingInterface::Attributes all;
  all.mask = ~uint64_t{0};
  if (!common.GetCommonSettingAttributes(&all)) libraryFailure("cannot make the common settings file");
  if (settings().json) {
    printRecord({{"root", Cell(OxGetDeviceRoot())}});
  } else if (!settings().quiet) {
    std::printf("device root %s is ready\n", OxGetDeviceRoot().c_str());
  }
  return kExitOk;
}

int runSignature(const Words& words) {
  Args args(words, {"first", "second", "first-file", "second-file"});
  args.atMost(2);
  Account account(args.need(0, "ACCOUNT"));
  const std::string sub = args.need(1, "subcommand (show, set)");
  auto signature = opened(account.info().OpenSignature(), "the signatures of '" + account.name() + "'");
  if (sub == "show") {
    OxSignatureInterface::Attributes a;
    a.mask = OxSignatureInterface::SIGNATURE_BOTH;
    if (!signature->ReadAttributes(&a)) libraryFailure("cannot read the signatures");
    if (settings().json) {
      printRecord({{"first", Cell(a.strSignature1)}, {"second", Cell(a.strSignature2)}});
    } else {
      std::printf("-- first\n%s\n-- second\n%s\n", utf8(a.strSignature1).c_str(), utf8(a.strSignature2).c_str());
    }
    return kExitOk;
  }
  if (sub != "set") throw UsageError("unknown subcommand '" + sub + "'");
  OxSignatureInterface::Attributes a;
  auto take = [&](const char* option, const char* fileOption, uint32_t bit, std::wstring* field) {
    if (args.value(option) && args.value(fileOption)) {
      throw UsageError(std::string("give only one of --") + option + " and --" + fileOption);
    }
    if (auto v = args.value(option)) {
      *field = wide(*v);
    } else if (auto f = args.value(fileOption)) {
      std::string bytes;
      if (!OxReadDeviceFile(OxHostToDevicePath(*f), &bytes)) throw Failure("cannot read '" + *f + "'");
      *field = wide(bytes);
    } else {
      return;
    }
    a.mask |= bit;
  };
  take("first", "first-file", OxSignatureInterface::SIGNATURE_1, &a.strSignature1);
  take("second", "second-file", OxSignatureInterface::SIGNATURE_2, &a.strSignature2);
  if (a.mask == 0) throw UsageError("give --first or --second");
  if (!signature->WriteAttributes(a)) libraryFailure("cannot write the signatures");
  return kExitOk;
}

namespace {

const char* const kTargets[] = {"", "received", "other", "both"};

uint32_t targetOf(const std::string& text) {
  for (uint32_t i = 1; i <= 3; ++i) {
    if (text == kTargets[i]) return i;
  }
  throw UsageError("'" + text + "' is not a target (received, other, both)");
}

}  // namespace

int runRules(const Words& words) {
  Args args(words, {"field", "keyword", "folder", "target", "name"});
  Account account(args.need(0, "ACCOUNT"));
  const std::string sub = args.need(1, "subcommand (list, add, remove, apply)");
  if (sub == "apply") {
    args.atMost(3);
    const unsigned long folderId =
        args.positionals().size() > 2 ? account.folder(args.positionals()[2]) : account.trayId("inbox");
    Owned<OxFolderInterface> folder = account.openFolder(folderId);
    std::vector<unsigned long> ids;
    if (!folder->GetMessageIds(&ids)) libraryFailure("cannot list folder " + std::to_string(folderId));
    folder.reset();
    OxClassifier classifier;
    Progress bar("sorting", ids.size());
    size_t moved = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
      if (!classifier.MoveToFolder(ids[i], &account.info())) libraryFailure("cannot sort message " + std::to_string(ids[i]));
      bar.step(i + 1);
    }
    Owned<OxFolderInterface> after = account.openFolder(folderId);
    std::vector<unsigned long> left;
    if (after->GetMessageIds(&left)) moved = ids.size() - left.size();
    if (settings().json) {
      printRecord({{"checked", Cell(static_cast<unsigned long>(ids.size()))}, {"moved", Cell(static_cast<unsigned long>(moved))}});
    } else if (!settings().quiet) {
      std::printf("%zu messages checked, %zu moved by the rules\n", ids.size(), moved);
    }
    return kExitOk;
  }
  auto rules = opened(account.info().OpenClassificationParamInterface(), "the rules of '" + account.name() + "'");
  std::vector<OxClassificationParamInterface::Attributes> list;
  if (!rules->GetAttributes(&list)) libraryFailure("cannot read the rules");
  if (sub == "list") {
    args.atMost(2);
    Table table({"n", "name", "field", "keyword", "folder", "target"});
    unsigned n = 0;
    for (const auto& r : list) {
      table.add({Cell(++n), Cell(r.strName), Cell(r.strField), Cell(r.strKeyword),
                 Cell(static_cast<unsigned long>(r.ulFolderID)), Cell(r.ulTarget <= 3 ? kTargets[r.ulTarget] : "?")});
    }
    table.print();
    return kExitOk;
  }
  if (sub == "add") {
    args.atMost(2);
    OxClassificationParamInterface::Attributes r;
    const auto field = args.value("field");
    const auto keyword = args.value("keyword");
    const auto folder = args.value("folder");
    if (!field || !keyword || !folder) throw UsageError("add needs --field, --keyword and --folder");
    // "subject" stands for the field's Japanese name in the rule file.
    r.strField = *field == "subject" ? L"\u4ef6\u540d" : wide(*field);
    r.strKeyword = wide(*keyword);
    r.ulFolderID = static_cast<uint32_t>(account.folder(*folder));
    r.ulTarget = targetOf(args.value("target").value_or("received"));
    r.strName = wide(args.value("name").value_or(*keyword));
    list.push_back(r);
  } else if (sub == "remove") {
    args.atMost(3);
    const unsigned long n = parseNumber(args.need(2, "rule number N"), "rule number");
    if (n == 0 || n > list.size()) throw Failure("there is no rule " + std::to_string(n) + " (see 'rules list')");
    list.erase(list.begin() + static_cast<long>(n - 1));
  } else {
    throw UsageError("unknown subcommand '" + sub + "'");
  }
  if (!rules->SetAttributes(list)) libraryFailure("cannot write the rules");
  return kExitOk;
}

int runRecover(const Words& words) {
  Args args(words, {});
  args.atMost(1);
  Account account(args.need(0, "ACCOUNT"));
  OxStorageInterface::RecoveryReport done;
  if (!account.storage().RecoverStorage(&done)) libraryFailure("recovery of '" + account.name() + "' failed");
  const std::pair<const char*, unsigned long> counts[] = {
      {"repaired", done.repaired}, {"moved_aside", done.quarantined}, {"refiled", done.refiled},
      {"removed", done.removed},   {"rebuilt", done.rebuilt},         {"folders_restored", done.folders}};
  if (settings().json) {
    std::vector<std::pair<std::string, Cell>> fields;
    for (const auto& [key, n] : counts) fields.push_back({key, Cell(n)});
    fields.push_back({"consistent", Cell::json(done.changed() ? "false" : "true")});
    printRecord(fields);
  } else if (!settings().quiet) {
    if (!done.changed()) {
      std::printf("the message store of '%s' is consistent\n", account.name().c_str());
    } else {
      std::printf("the message store of '%s' was repaired:\n", account.name().c_str());
      std::printf("  %lu message files repaired from their text\n", done.repaired);
      std::printf("  %lu unusable files moved aside into the storage's Quarantine directory\n", done.quarantined);
      std::printf("  %lu messages re-filed into a folder\n", done.refiled);
      std::printf("  %lu messages without text removed\n", done.removed);
      std::printf("  %lu index files rebuilt\n", done.rebuilt);
      std::printf("  %lu lost folders put back under the root\n", done.folders);
    }
  }
  return kExitOk;
}

}  // namespace oxmail
