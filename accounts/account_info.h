// Accounts: each account is a directory under DataPath holding AccountInfo.ini (its settings),
// LastUID.ini and UID.list (POP3 bookkeeping) and the subdirectories Storage, Classification
// and Signature. OxAccountInfoInterface finds, creates, renames and deletes accounts, reads and
// writes an account's settings as one Attributes record selected by a field mask, keeps the UID
// files and opens the account's message storage, signature and rule objects.
//
// Failures return false or null and leave a code for GetOxMiddleError(); profile-file and
// registry codes pass through unchanged. The account set and the name table are process-wide
// and unlocked: open, create and delete accounts from one thread at a time.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "accounts/field_types.h"
#include "platform/wintypes.h"

namespace oxm {
class OxAccountInfo;
}  // namespace oxm
class OxSignatureInterface;
class OxClassificationParamInterface;
class OxStorageInterface;

class OxAccountInfoInterface {
 public:
  // The account's settings. `mask` bit n selects the key of bit n in account_keys.inc; the
  // fields follow in the table's order, named as the keys.
  struct Attributes {
    uint64_t mask = 0;
#define OXM_ACCOUNT_KEY(bit, type, name, def) OXM_FIELD_TYPE_##type name{};
#include "accounts/account_keys.inc"
#undef OXM_ACCOUNT_KEY
  };
  // The mask bit of each key, named as the key: Mask::strSenderAddress | Mask::guidNetworkSetting.
  struct Mask {
#define OXM_ACCOUNT_KEY(bit, type, name, def) static constexpr uint64_t name = uint64_t{1} << (bit);
#include "accounts/account_keys.inc"
#undef OXM_ACCOUNT_KEY
  };

  // Wraps a shared account object; the destructor hands it back to the account set. A null
  // object makes every member return false or null without touching the last error.
  explicit OxAccountInfoInterface(oxm::OxAccountInfo* info);
  ~OxAccountInfoInterface();
  OxAccountInfoInterface(const OxAccountInfoInterface&) = delete;
  OxAccountInfoInterface& operator=(const OxAccountInfoInterface&) = delete;

  // Reads the selected fields in one pass over AccountInfo.ini; a key missing from the file
  // gives its default. Mask 0: OXMDL_ERR_ACC_GET_NOMASK. A malformed guidNetworkSetting sets
  // OXMDL_ERR_ACC_GUID, keeps the field and does not fail the read. The mask is 0 on return;
  // fields of a failed read are untouched.
  bool GetAccountInfoAttributes(Attributes* attrs) const;
  // Writes the selected fields in one rewrite of AccountInfo.ini. Mask 0:
  // OXMDL_ERR_ACC_SET_NOMASK; too little space: OXMDL_ERR_INI_BATCH_DISK_FULL; any other
  // failure OXMDL_ERR_ACC_SET with the file as it was. The mask is 0 on return.
  bool SetAccountInfoAttributes(Attributes& attrs);

  // LastUID.ini: the last retrieved UID as UTF-16 text without BOM or line end. Saving
  // converts from the system code page (OXMDL_ERR_ACC_UID_MTOW_SIZE / _MTOW) and replaces the
  // file crash-safely (OXMDL_ERR_ACC_CREATE_UIDFILE, or OXMDL_ERR_STG_DISK_FULL). Reading gives
  // its first line, or "strLastUid" of AccountInfo.ini when the file does not exist; a file
  // that cannot be read: OXMDL_ERR_ACC_LASTUID_READ.
  bool SaveLastUID(const std::string& uid);
  bool GetLastUID(std::wstring* uid);
  // UID.list: one UID per line, UTF-16, each line ended by CR LF. Reading appends the non-empty
  // lines to *uids (a missing or empty file adds nothing and succeeds; an unreadable one is
  // OXMDL_ERR_FILE_OPEN). Saving replaces the file crash-safely: it cannot be made,
  // OXMDL_ERR_ACC_UIDL_OPEN; a UID or line end cannot be written, OXMDL_ERR_ACC_UIDL_WRITE /
  // _WRITE_END. A UID holding CR or LF would split its line: refused with
  // OXMDL_ERR_ACC_UIDL_WRITE before the file is touched.
  bool GetUIDL(std::list<std::wstring>* uids);
  bool SaveUIDL(const std::list<std::wstring>& uids);

  // The account's message storage, signatures and classification rules, in the
  // subdirectories its settings name ("strStorageDirName", "strSignatureDirName",
  // "strClassificationDirName"; when the key is absent, the names given at creation). A name
  // that could not be read keeps its profile code (outside the profile codes:
  // OXMDL_ERR_ACC_PART_KEY); a name that is not one plain path component (hand-edited to
  // reach outside the account) is OXMDL_ERR_ACC_PART_KEY too. A storage that cannot be opened
  // keeps the store's code (a missing or damaged Status.txt, Entry.dat); no memory for the
  // storage interface: OXMDL_ERR_ACC_OPEN_MAILSTORE. The caller deletes the interface.
  OxStorageInterface* OpenStorage();
  OxSignatureInterface* OpenSignature();
  OxClassificationParamInterface* OpenClassificationParamInterface();

  // The account's directory name (its path less DataPath); empty: OXMDL_ERR_ACC_NAME.
  bool GetAccountName(std::wstring* name);

  unsigned long GetErrorInfo() const;

  // False with OXMDL_ERR_ACC_INVALID_CHAR when the name holds one of \ / : * ? " < > | or a
  // control character (below U+0020, U+007F).
  static bool CheckValidChar(const std::wstring& name);
  // Makes a mail account: its directory is the name, or the name followed by "(2)", "(3)", ...
  // when a directory of that name exists. Refusals come before anything is made: a forbidden
  // character (OXMDL_ERR_ACC_INVALID_CHAR), an empty name (OXMDL_ERR_ACC_NAME), no DataPath
  // (registry code), less than 897,024 bytes free (OXMDL_ERR_ACC_DISK_FULL). A step that fails
  // later gives its code and leaves the directories made so far. `regkey` empty: the mail
  // program's key.
  static OxAccountInfoInterface* Create(const std::wstring& name, const std::wstring& regkey);
  // The same for a feed account: the directory is the name itself (an existing one fails with
  // OXMDL_ERR_ACC_CREATE_DIR).
  static OxAccountInfoInterface* CreateFeed(const std::wstring& name, const std::wstring& regkey);
  // Moves a display name in the name table (same directory) and marks the table for a rebuild
  // from the files; neither the directory nor strAccountName changes. False, with the last
  // error unchanged, when `newName` is already a name or `oldName` is not.
  static bool Rename(const std::wstring& oldName, const std::wstring& newName);
  // Removes the account's directory tree. A part still open (its storage, or a folder or
  // message of it; a signature or rule interface) is refused with OXMDL_ERR_ACC_DELETE_BUSY
  // before anything is removed; a tree that cannot be removed gives OXMDL_ERR_ACC_DELETE. An
  // unknown name gives false with the last error unchanged.
  static bool Delete(const std::wstring& name, const std::wstring& regkey);
  // Opens by display name, else by an 11-character phone number; the caller deletes the
  // interface. No account of that name: null, last error unchanged; no account directory in
  // DataPath: OXMDL_ERR_ACC_NONE; the listing failed: OXMDL_ERR_ACC_FIND; the directory
  // vanished: OXMDL_ERR_ACC_OPEN.
  static OxAccountInfoInterface* OpenAccountInfo(const std::wstring& name, const std::wstring& regkey);
  // Opens the directory named by the phone number, which must have exactly 11 characters
  // (otherwise null, last error unchanged).
  static OxAccountInfoInterface* OpenAccountInfoFromPhoneNumber(const std::wstring& phone,
                                                                const std::wstring& regkey);
  // strAccountName of the phone-number account, copied into out[0..size-1] (zero-filled first,
  // cut to size - 1 characters so that it stays terminated). True when the name is not empty.
  static bool GetAccountNameFromPhoneNumber(wchar_t* phone, wchar_t* out, int size);
  static bool GetAccountNameFromPhoneNumber(void* phone, void* out, int size);
  // The directory of the first account whose strAccountName equals `name` exactly. An empty
  // name gives an empty `phone` and false.
  static bool GetAccountPhoneNumberFromName(const std::wstring& name, std::wstring& phone,
                                            const std::wstring& regkey);
  // Whether an account directory of exactly that name exists under DataPath.
  static bool IsExistAccount(std::wstring name, const std::wstring& regkey);
  // Rebuilds the name table from the files and returns its display names in directory-listing
  // order (*names is replaced). A display name is strAccountName, or the directory name when
  // that is empty or unreadable; a display name met twice is entered the second time under
  // its directory name.
  static bool GetAccountNameList(std::vector<std::wstring>* names, const std::wstring& regkey);

 private:
  static OxAccountInfoInterface* OpenAccountInfoFromFolder(const std::wstring& directory,
                                                           const std::wstring& regkey);
  // Creates the directory when the path is not an existing one; true only when made now.
  static bool GetFileAttributesAccountInfo(const std::wstring& path);

  oxm::OxAccountInfo* info_;
};
