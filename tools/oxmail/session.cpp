#include "tools/oxmail/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"

namespace oxmail {

const wchar_t* const kDataPath = L"\\Application Data\\OxenMail\\Account\\";
const wchar_t* const kSystemInfoPath = L"\\Application Data\\OxenMail\\";
const wchar_t* const kPluginPath = L"\\Program Files\\OxenMail\\Plugin";

namespace {

const wchar_t* const kOxMailKey = L"Software\\Tamarin\\OxMail";

// The trays by their command-line names and the account keys that hold their identifiers.
struct Tray {
  const char* name;
  uint32_t OxAccountInfoInterface::Attributes::*field;
};
const Tray kTrays[] = {
    {"inbox", &OxAccountInfoInterface::Attributes::ulJusinTrayID},
    {"outbox", &OxAccountInfoInterface::Attributes::ulSousinTrayID},
    {"sent", &OxAccountInfoInterface::Attributes::ulSousinZumiTrayID},
    {"drafts", &OxAccountInfoInterface::Attributes::ulSitagakiTrayID},
};
const unsigned long kPartialFolder = 0x10001;
const unsigned long kUnreadFolder = 0x10002;

std::string guidText(const GUID& g) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                g.Data4[6], g.Data4[7]);
  return buf;
}

bool parseGuid(std::string text, GUID* g) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  unsigned d[11];
  char tail;
  if (text.size() != 36 ||
      std::sscanf(text.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &d[0], &d[1], &d[2], &d[3],
                  &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10], &tail) != 11) {
    return false;
  }
  g->Data1 = d[0];
  g->Data2 = static_cast<uint16_t>(d[1]);
  g->Data3 = static_cast<uint16_t>(d[2]);
  for (int i = 0; i < 8; ++i) g->Data4[i] = static_cast<uint8_t>(d[3 + i]);
  return true;
}

bool parseBool(const std::string& t, bool* out) {
  for (const char* yes : {"1", "true", "yes", "on"}) {
    if (t == yes) return *out = true, true;
  }
  for (const char* no : {"0", "false", "no", "off"}) {
    if (t == no) return *out = false, true;
  }
  return false;
}

}  // namespace

void requireInit() {
  std::wstring dataPath;
  if (!GetRegistryValue(HKEY_CURRENT_USER, kOxMailKey, L"DataPath", &dataPath)) {
    throw Failure("the device root " + OxGetDeviceRoot() +
                  " is not set up (no DataPath); run 'oxmail init' first");
  }
}

unsigned long parseNumber(const std::string& text, const char* what) {
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end || errno != 0 || text[0] == '-' || v > 0xFFFFFFFFul) {
    throw UsageError("'" + text + "' is not a valid " + what);
  }
  return v;
}

namespace {

std::string formatField(const std::wstring& v) { return utf8(v); }
std::string formatField(bool v) { return v ? "true" : "false"; }
std::string formatField(const GUID& v) { return guidText(v); }
std::string formatField(uint32_t v) { return std::to_string(v); }
std::string formatField(int32_t v) { return std::to_string(v); }

void parseField(std::wstring* field, const char*, const std::string& text) { *field = wide(text); }
void parseField(bool* field, const char* name, const std::string& text) {
  if (!parseBool(text, field)) throw UsageError(std::string(name) + " takes true or false, not '" + text + "'");
}
void parseField(GUID* field, const char* name, const std::string& text) {
  if (!parseGuid(text, field)) throw UsageError(std::string(name) + " takes a GUID, not '" + text + "'");
}
void parseField(int32_t* field, const char* name, const std::string& text) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < INT32_MIN || v > INT32_MAX) {
    throw UsageError(std::string(name) + " takes a whole number, not '" + text + "'");
  }
  *field = static_cast<int32_t>(v);
}
void parseField(uint32_t* field, const char* name, const std::string& text) {
  *field = static_cast<uint32_t>(parseNumber(text, name));
}

}  // namespace

const std::vector<AccountKey>& accountKeys() {
  using Attributes = OxAccountInfoInterface::Attributes;
  static const std::vector<AccountKey> keys = {
#define OXM_ACCOUNT_KEY(bit, type, field, def)                                           \
  {#field, OxAccountInfoInterface::Mask::field, (#type)[0],                              \
   [](const Attributes& a) { return formatField(a.field); },                             \
   [](Attributes* a, const char* name, const std::string& text) { parseField(&a->field, name, text); }},
#include "accounts/account_keys.inc"
#undef OXM_ACCOUNT_KEY
  };
  return keys;
}

const AccountKey* findAccountKey(const std::string& name) {
  for (const AccountKey& k : accountKeys()) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

std::string keyValue(const OxAccountInfoInterface::Attributes& a, const AccountKey& key) {
  return key.format(a);
}

void setKeyValue(OxAccountInfoInterface::Attributes* a, const AccountKey& key, const std::string& text) {
  key.parse(a, key.name, text);
  a->mask |= key.mask;
}

Account::Account(const std::string& name) : name_(name) {
  requireInit();
  setRecoverHint(name);
  info_.reset(OxAccountInfoInterface::OpenAccountInfo(wide(name), L""));
  if (!info_) info_.reset(openFeedAccount(name));
  if (!info_) {
    throw Failure("no account named '" + name + "' (see 'oxmail account list')");
  }
}

Account::~Account() {
  storage_.reset();
  info_.reset();
}

OxStorageInterface& Account::storage() {
  if (!storage_) {
    storage_.reset(info_->OpenStorage());
    if (!storage_) libraryFailure("cannot open the message store of '" + name_ + "'");
  }
  return *storage_;
}

OxAccountInfoInterface::Attributes Account::attributes() {
  OxAccountInfoInterface::Attributes a;
  a.mask = ~uint64_t{0};
  if (!info_->GetAccountInfoAttributes(&a)) libraryFailure("cannot read the settings of '" + name_ + "'");
  return a;
}

unsigned long Account::trayId(const std::string& tray) {
  for (const Tray& t : kTrays) {
    if (tray == t.name) return attributes().*t.field;
  }
  throw UsageError("'" + tray + "' is not a tray (inbox, outbox, sent, drafts)");
}

Owned<OxFolderInterface> Account::openFolder(unsigned long id) {
  Owned<OxFolderInterface> f;
  if (id == kPartialFolder || id == kUnreadFolder) {
    // The virtual folders are reached as children of the root.
    Owned<OxFolderInterface> root(storage().OpenRootFolder());
    if (root) f.reset(root->OpenFolder(id));
  } else {
    f.reset(id == 0 ? storage().OpenRootFolder() : storage().OpenFolder(id));
  }
  if (!f) libraryFailure("cannot open folder " + std::to_string(id));
  return f;
}

Owned<OxMessageInterface> Account::openMessage(unsigned long id) {
  Owned<OxMessageInterface> m(storage().OpenMessage(id));
  if (!m) libraryFailure("cannot open message " + std::to_string(id));
  return m;
}

void Account::walk(OxFolderInterface& folder, unsigned long id) {
  std::vector<unsigned long> children;
  if (!folder.GetFolderIds(&children)) libraryFailure("cannot list the folders of " + std::to_string(id));
  for (unsigned long child : children) {
    OxFolderInterface::FolderAttributes attr;
    if (!folder.ReadFolderAttributes(child, &attr)) libraryFailure("cannot read folder " + std::to_string(child));
    tree_[id].children.push_back(child);
    tree_[child] = Node{id, attr.name, {}};
    if (child == kPartialFolder || child == kUnreadFolder) continue;
    Owned<OxFolderInterface> sub = openFolder(child);
    walk(*sub, child);
  }
}

const std::map<unsigned long, Account::Node>& Account::tree() {
  if (tree_.empty()) {
    tree_[0] = Node{0, L"", {}};
    Owned<OxFolderInterface> root = openFolder(0);
    walk(*root, 0);
  }
  return tree_;
}

unsigned long Account::folder(const std::string& arg) {
  if (arg.empty()) throw UsageError("a folder name is empty");
  for (const Tray& t : kTrays) {
    if (arg == t.name) return attributes().*t.field;
  }
  if (arg == "unread") return kUnreadFolder;
  if (arg == "partial") return kPartialFolder;
  if (arg == "/" || arg == "root") return 0;
  if (arg[0] >= '0' && arg[0] <= '9') {
    unsigned long id = parseNumber(arg, "folder identifier");
    if (!tree().count(id)) throw Failure("'" + name_ + "' has no folder " + arg + " (see 'oxmail folder list')");
    return id;
  }
  unsigned long at = 0;
  size_t start = 0;
  // "inbox/News": a path may start at a tray.
  for (const Tray& t : kTrays) {
    const size_t n = std::strlen(t.name);
    if (arg.compare(0, n + 1, std::string(t.name) + "/") == 0) {
      at = attributes().*t.field;
      start = n + 1;
    }
  }
  while (start <= arg.size()) {
    size_t slash = arg.find('/', start);
    if (slash == std::string::npos) slash = arg.size();
    const std::wstring part = wide(arg.substr(start, slash - start));
    bool found = false;
    for (unsigned long child : tree().at(at).children) {
      if (tree().at(child).name == part) {
        at = child;
        found = true;
        break;
      }
    }
    if (!found) throw Failure("'" + name_ + "' has no folder '" + arg + "' (see 'oxmail folder list')");
    start = slash + 1;
  }
  return at;
}

unsigned long Account::folderOfMessage(unsigned long messageId) {
  for (const auto& [id, node] : tree()) {
    if (id == kPartialFolder || id == kUnreadFolder) continue;
    Owned<OxFolderInterface> f = openFolder(id);
    std::vector<unsigned long> ids;
    if (!f->GetMessageIds(&ids)) continue;
    for (unsigned long m : ids) {
      if (m == messageId) return id;
    }
  }
  return kNoFolder;
}

}  // namespace oxmail
