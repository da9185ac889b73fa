// oxmail account list|add|show|set|rename|delete
#include <cstdio>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

std::vector<std::wstring> accountNames() {
  std::vector<std::wstring> names;
  if (!OxAccountInfoInterface::GetAccountNameList(&names, L"")) {
    if (GetOxMiddleError() == OXMDL_ERR_ACC_NONE) return {};  // no account yet
    libraryFailure("cannot list the accounts");
  }
  return names;
}

// Accounts go by their display names (the name table), not their directory names.
bool exists(const std::string& name) {
  for (const std::wstring& n : accountNames()) {
    if (n == wide(name)) return true;
  }
  return false;
}

int list(const Args& args) {
  args.atMost(1);
  requireInit();
  Table table({"name", "address", "pop", "smtp"});
  for (const std::wstring& name : accountNames()) {
    Account account(utf8(name));
    const auto a = account.attributes();
    table.add({name, a.strSenderAddress, utf8(a.strPopServerName) + ":" + std::to_string(a.uiPopServerPort),
               utf8(a.strSmtpServerName) + ":" + std::to_string(a.uiSmtpServerPort)});
  }
  table.print();
  return kExitOk;
}

// KEY=VALUE pairs into a record; every key is checked before anything is written.
OxAccountInfoInterface::Attributes settingsFrom(const std::vector<std::string>& pairs) {
  OxAccountInfoInterface::Attributes a;
  for (const std::string& pair : pairs) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) throw UsageError("'" + pair + "' is not KEY=VALUE");
    const AccountKey* key = findAccountKey(pair.substr(0, eq));
    if (!key) throw UsageError("'" + pair.substr(0, eq) + "' is not an account setting (see 'oxmail account show')");
    setKeyValue(&a, *key, pair.substr(eq + 1));
  }
  return a;
}

// "host" or "host:port" into two settings.
void hostAndPort(const std::string& text, const char* hostKey, const char* portKey, std::vector<std::string>* pairs) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    pairs->push_back(std::string(hostKey) + "=" + text);
    return;
  }
  pairs->push_back(std::string(hostKey) + "=" + text.substr(0, colon));
  pairs->push_back(std::string(portKey) + "=" + text.substr(colon + 1));
}

void write(Account& account, OxAccountInfoInterface::Attributes& a) {
  if (a.mask == 0) return;
  if (!account.info().SetAccountInfoAttributes(a)) libraryFailure("cannot write the settings of '" + account.name() + "'");
}

int add(const Args& args) {
  const std::string name = args.need(1, "NAME");
  std::vector<std::string> pairs(args.positionals().begin() + 2, args.positionals().end());
  if (auto v = args.value("address")) pairs.push_back("strSenderAddress=" + *v);
  if (auto v = args.value("name")) pairs.push_back("strSenderName=" + *v);
  if (auto v = args.value("user")) pairs.push_back("strPopUserName=" + *v);
  if (auto v = args.value("password")) pairs.push_back("strPopPasswd=" + *v);
  if (auto v = args.value("pop")) hostAndPort(*v, "strPopServerName", "uiPopServerPort", &pairs);
  if (auto v = args.value("smtp")) hostAndPort(*v, "strSmtpServerName", "uiSmtpServerPort", &pairs);
  if (args.has("apop")) pairs.push_back("bAPOPEnabled=true");
  if (auto v = args.value("partial")) {
    if (parseNumber(*v, "LINES") > 0xFFFFFFFFul) throw UsageError("LINES is too large");
    pairs.push_back("bPartialRetrievingEnabled=true");
    pairs.push_back("uiPartialRetrievingLines=" + *v);
  }
  // The library deletes a delivered message when this key is set.
  if (args.has("delete-from-server")) pairs.push_back("bMessageLeavingEnabled=true");
  smtpAuthSettings(args, name, &pairs);
  OxAccountInfoInterface::Attributes a = settingsFrom(pairs);
  // The name becomes a directory: a host file name is at most 255 bytes.
  checkName("account", name, 255);
  requireInit();
  const std::wstring wname = wide(name);
  if (!OxAccountInfoInterface::CheckValidChar(wname)) {
    throw Failure("'" + name + "' cannot be an account name: it holds a character that a file name cannot");
  }
  if (exists(name)) throw Failure("an account named '" + name + "' exists already");
  OxAccountCreator creator;
  if (!creator.CreateFolders(wname)) libraryFailure("cannot create the account '" + name + "'");
  Account account(name);
  write(account, a);
  if (!settings().quiet) std::printf("created account '%s' with its inbox, outbox, sent and drafts trays\n", name.c_str());
  return kExitOk;
}

int show(const Args& args) {
  args.atMost(2);
  Account account(args.need(1, "NAME"));
  const auto a = account.attributes();
  std::vector<std::pair<std::string, Cell>> fields;
  for (const AccountKey& key : accountKeys()) {
    std::string value = keyValue(a, key);
    const bool secret = std::string(key.name).find("Passwd") != std::string::npos;
    if (secret && !value.empty() && !args.has("show-passwords")) value = "******";
    fields.emplace_back(key.name, Cell(value));
  }
  printRecord(fields);
  return kExitOk;
}

int set(const Args& args) {
  const std::string name = args.need(1, "NAME");
  if (args.positionals().size() < 3) throw UsageError("missing KEY=VALUE");
  OxAccountInfoInterface::Attributes a =
      settingsFrom(std::vector<std::string>(args.positionals().begin() + 2, args.positionals().end()));
  Account account(name);
  write(account, a);
  return kExitOk;
}

int rename(const Args& args) {
  args.atMost(3);
  const std::string from = args.need(1, "OLD name");
  const std::string to = args.need(2, "NEW name");
  requireInit();
  if (!exists(from)) throw Failure("no account named '" + from + "'");
  if (exists(to)) throw Failure("an account named '" + to + "' exists already");
  if (!OxAccountInfoInterface::CheckValidChar(wide(to))) {
    throw Failure("'" + to + "' cannot be an account name: it holds a character that a file name cannot");
  }
  // The name table follows the settings file, so the new name is written there first.
  {
    Account account(from);
    OxAccountInfoInterface::Attributes a;
    a.strAccountName = wide(to);
    a.mask = OxAccountInfoInterface::Mask::strAccountName;
    write(account, a);
  }
  if (!OxAccountInfoInterface::Rename(wide(from), wide(to))) libraryFailure("cannot rename '" + from + "'");
  return kExitOk;
}

int removeAccount(const Args& args) {
  args.atMost(2);
  const std::string name = args.need(1, "NAME");
  requireInit();
  if (!exists(name)) throw Failure("no account named '" + name + "'");
  if (!OxAccountInfoInterface::Delete(wide(name), L"")) libraryFailure("cannot delete '" + name + "'");
  return kExitOk;
}

}  // namespace

int runAccount(const Words& words) {
  Args args(words, {"address", "name", "user", "password", "pop", "smtp", "partial", "smtp-auth", "smtp-user", "smtp-password"},
            {"show-passwords", "apop", "delete-from-server"});
  const std::string sub = args.need(0, "subcommand (list, add, show, set, rename, delete)");
  if (sub == "list") return list(args);
  if (sub == "add") return add(args);
  if (sub == "show") return show(args);
  if (sub == "set") return set(args);
  if (sub == "rename") return rename(args);
  if (sub == "delete") return removeAccount(args);
  throw UsageError("unknown subcommand '" + sub + "'");
}

}  // namespace oxmail
