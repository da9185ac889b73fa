// What the commands share: opening an account with its storage, naming folders and messages
// on the command line, and the account's settings as a table of keys.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <oxmiddle/oxmiddle.h>

namespace oxmail {

// Where `oxmail init` puts things on the device.
extern const wchar_t* const kDataPath;
extern const wchar_t* const kSystemInfoPath;
extern const wchar_t* const kPluginPath;

// Fails with a hint to run `oxmail init` when the device root has not been set up.
void requireInit();

// Decimal or 0x-hexadecimal; anything else is a usage error naming `what`.
unsigned long parseNumber(const std::string& text, const char* what);

template <class T>
using Owned = std::unique_ptr<T>;

// One account's key of the settings file: name, mask bit, type letter (s, u, i, b, g), and
// its field's value as text and back (see keyValue, setKeyValue).
struct AccountKey {
  const char* name;
  uint64_t mask;
  char type;
  std::string (*format)(const OxAccountInfoInterface::Attributes& a);
  void (*parse)(OxAccountInfoInterface::Attributes* a, const char* name, const std::string& text);
};
const std::vector<AccountKey>& accountKeys();
const AccountKey* findAccountKey(const std::string& name);
// The value of a key in a record as text, and back (a usage error when the text does not fit
// the key's type).
std::string keyValue(const OxAccountInfoInterface::Attributes& a, const AccountKey& key);
void setKeyValue(OxAccountInfoInterface::Attributes* a, const AccountKey& key, const std::string& text);

// The device's feed account when `name` is its display name or "Server", else null.
OxAccountInfoInterface* openFeedAccount(const std::string& name);

// An open account and, on first use, its storage; released in reverse order.
class Account {
 public:
  explicit Account(const std::string& name);
  ~Account();
  Account(const Account&) = delete;
  Account& operator=(const Account&) = delete;

  const std::string& name() const { return name_; }
  OxAccountInfoInterface& info() { return *info_; }
  OxStorageInterface& storage();
  OxAccountInfoInterface::Attributes attributes();

  // A folder named on the command line: "inbox", "outbox", "sent", "drafts", "unread",
  // "partial", an identifier, or a path of names from the root ("Work/2026") or from a tray
  // ("inbox/News").
  unsigned long folder(const std::string& arg);
  unsigned long trayId(const std::string& tray);
  Owned<OxFolderInterface> openFolder(unsigned long id);
  Owned<OxMessageInterface> openMessage(unsigned long id);

  // The folder tree: every folder's name and parent (the virtual folders included).
  struct Node {
    unsigned long parent;
    std::wstring name;
    std::vector<unsigned long> children;
  };
  const std::map<unsigned long, Node>& tree();
  // The folder that holds a message, or kNoFolder when none does.
  static constexpr unsigned long kNoFolder = ~0ul;
  unsigned long folderOfMessage(unsigned long messageId);
  void forgetTree() { tree_.clear(); }

 private:
  void walk(OxFolderInterface& folder, unsigned long id);

  std::string name_;
  Owned<OxAccountInfoInterface> info_;
  Owned<OxStorageInterface> storage_;
  std::map<unsigned long, Node> tree_;
};

}  // namespace oxmail
