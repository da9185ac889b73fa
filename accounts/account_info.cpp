#include "accounts/account_info.h"

#include <algorithm>
#include <memory>
#include <new>

#include "accounts/account_create.h"
#include "accounts/account_set.h"
#include "accounts/classification.h"
#include "accounts/paths.h"
#include "accounts/rule_file.h"
#include "accounts/signature.h"
#include "accounts/signature_files.h"
#include "accounts/tree.h"
#include "frame/diag.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "store/storage.h"

using oxm::OxAccountInfo;

namespace {

const oxm::TreeCodes kAccountTree{OXMDL_ERR_ACC_TREE_FIND, OXMDL_ERR_ACC_TREE_DELFILE,
                                  OXMDL_ERR_ACC_TREE_RMDIR};

// The storage lets go of its directory when no interface, folder or message of it is open; a
// storage whose close was refused earlier is closed now.
bool storageInUse(const std::wstring& dir) { return !oxm::StorageSet::instance().letGo(dir); }

// The store has no removal codes of its own: its tree goes with the account's codes.
unsigned removeStorageTree(const std::wstring& dir) { return oxm::removeTree(dir, kAccountTree); }

// The parts of an account that hold objects of their own; each must let go of its directory
// before the account is deleted.
struct Layer {
  const oxm::PartKey* part;
  bool (*inUse)(const std::wstring& dir);
  unsigned (*remove)(const std::wstring& dir);
};
constexpr Layer kLayers[] = {
    {&oxm::kStoragePart, storageInUse, removeStorageTree},
    {&oxm::kClassificationPart, oxm::classificationParamInUse, oxm::removeClassificationTree},
    {&oxm::kSignaturePart, oxm::signatureInUse, oxm::removeSignatureTree},
};

bool fail(unsigned code) {
  SetOxMiddleError(code);
  return false;
}

template <class T>
T* failNull(unsigned code) {
  SetOxMiddleError(code);
  return nullptr;
}

// A new interface on an acquired account; without memory for it the account goes back.
OxAccountInfoInterface* wrap(OxAccountInfo* info) {
  auto* made = new (std::nothrow) OxAccountInfoInterface(info);
  if (!made) {
    oxm::accountSet().release(info);
    SetOxMiddleError(OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
  }
  return made;
}

// The display name (strAccountName) of the account in the directory named by a phone number.
// A number that is not 11 characters long names no account: the name is empty.
unsigned displayNameOfPhone(const std::wstring& phone, const std::wstring& regkey,
                            std::wstring* name) {
  name->clear();
  if (phone.size() != 11) {
    oxm::NKDbgPrintfW(L"** OpenAccountInfoFromPhoneNumber() rstrPhoneNumber is Not 11 chars (%s)\r\n",
                      phone.c_str());
    return OXMDL_ERR_NONE;
  }
  std::wstring dataPath;
  OxAccountInfo* info = nullptr;
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = oxm::acquireAccount(dataPath + phone, &info);
  if (code != OXMDL_ERR_NONE) return code;
  OxAccountInfoInterface::Attributes attrs;
  attrs.mask = OxAccountInfoInterface::Mask::strAccountName;
  bool guidMalformed = false;
  code = info->readAttributes(&attrs, &guidMalformed);
  oxm::accountSet().release(info);
  if (code == OXMDL_ERR_NONE) *name = attrs.strAccountName;
  return code;
}

// A new interface on the shared object of one of the account's parts, in the subdirectory its
// key names; without memory for the interface the object goes back and `noMemory` is set.
template <class Interface, class Object, class Acquire, class Release>
Interface* openPart(const OxAccountInfo& info, const oxm::PartKey& part, Acquire acquire,
                    Release release, unsigned noMemory) {
  std::wstring dir;
  Object* object = nullptr;
  unsigned code = oxm::partPathOf(info.path(), part, &dir);
  if (code == OXMDL_ERR_NONE) code = acquire(dir, &object);
  if (code != OXMDL_ERR_NONE) return failNull<Interface>(code);
  auto* made = new (std::nothrow) Interface(object);
  if (!made) {
    release(object);
    SetOxMiddleError(noMemory);
  }
  return made;
}

OxAccountInfoInterface* createAccount(const std::wstring& name, const std::wstring& regkey,
                                      bool numbered) {
  if (!OxAccountInfoInterface::CheckValidChar(name)) return nullptr;
  if (name.empty()) return failNull<OxAccountInfoInterface>(OXMDL_ERR_ACC_NAME);
  std::wstring dataPath;
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  oxm::AccountNameTable& table = oxm::nameTable();
  if (code == OXMDL_ERR_NONE) code = table.ensureBuilt(dataPath, true);
  if (code != OXMDL_ERR_NONE) return failNull<OxAccountInfoInterface>(code);

  std::wstring dir = name;
  if (numbered && table.holdsDirectory(dir)) {
    // name(2), name(3), ...: with n directories known, one of n candidates is free.
    dir.clear();
    for (size_t n = 2; n < table.directoryCount() + 2 && dir.empty(); ++n) {
      std::wstring candidate = name + L"(" + std::to_wstring(n) + L")";
      if (!table.holdsDirectory(candidate)) dir = candidate;
    }
    if (dir.empty()) return failNull<OxAccountInfoInterface>(OXMDL_ERR_ACC_CREATE_DIR);
  }
  OxAccountInfo* info = nullptr;
  code = oxm::createAccountFiles(dataPath + dir, &info);
  if (code != OXMDL_ERR_NONE) return failNull<OxAccountInfoInterface>(code);
  table.enter(name, dir);
  return wrap(info);
}

}  // namespace

namespace oxm {

unsigned removeAccountTree(const std::wstring& path) {
  // Every layer is asked before anything goes, so a refusal leaves the account whole. A part
  // whose key cannot be read (a damaged settings file) is where creation put it.
  std::wstring partDirs[std::size(kLayers)];
  for (size_t i = 0; i < std::size(kLayers); ++i) {
    if (partPathOf(path, *kLayers[i].part, &partDirs[i]) != OXMDL_ERR_NONE) {
      partDirs[i] = joinPath(path, kLayers[i].part->name);
    }
    if (kLayers[i].inUse(partDirs[i])) return OXMDL_ERR_ACC_DELETE_BUSY;
  }
  for (size_t i = 0; i < std::size(kLayers); ++i) {
    unsigned code = kLayers[i].remove(partDirs[i]);
    if (code != OXMDL_ERR_NONE) {
      debugError(L"OxAccountInfoInterface::Delete()", L"removeTree()", code);
      return OXMDL_ERR_ACC_DELETE;
    }
  }
  unsigned code = removeTree(path, kAccountTree);
  if (code != OXMDL_ERR_NONE) {
    debugError(L"OxAccountInfoInterface::Delete()", L"removeTree()", code);
    return OXMDL_ERR_ACC_DELETE;
  }
  return OXMDL_ERR_NONE;
}

}  // namespace oxm

OxAccountInfoInterface::OxAccountInfoInterface(OxAccountInfo* info) : info_(info) {}

OxAccountInfoInterface::~OxAccountInfoInterface() {
  if (info_) oxm::accountSet().release(info_);
}

bool OxAccountInfoInterface::GetAccountInfoAttributes(Attributes* attrs) const {
  if (!info_) return false;
  if (!attrs) return fail(OXMDL_ERR_STG_INVALID_ARG);
  bool guidMalformed = false;
  unsigned code = info_->readAttributes(attrs, &guidMalformed);
  if (code != OXMDL_ERR_NONE) return fail(code);
  if (guidMalformed) SetOxMiddleError(OXMDL_ERR_ACC_GUID);  // the read itself succeeded
  return true;
}

bool OxAccountInfoInterface::SetAccountInfoAttributes(Attributes& attrs) {
  if (!info_) return false;
  unsigned code = info_->writeAttributes(attrs);
  return code == OXMDL_ERR_NONE || fail(code);
}

bool OxAccountInfoInterface::SaveLastUID(const std::string& uid) {
  if (!info_) return false;
  unsigned code = info_->saveLastUid(uid);
  return code == OXMDL_ERR_NONE || fail(code);
}

bool OxAccountInfoInterface::GetLastUID(std::wstring* uid) {
  if (!info_) return false;
  unsigned code = uid ? info_->lastUid(uid) : OXMDL_ERR_STG_INVALID_ARG;
  return code == OXMDL_ERR_NONE || fail(code);
}

bool OxAccountInfoInterface::GetUIDL(std::list<std::wstring>* uids) {
  if (!info_) return false;
  unsigned code = uids ? info_->uidList(uids) : OXMDL_ERR_STG_INVALID_ARG;
  return code == OXMDL_ERR_NONE || fail(code);
}

bool OxAccountInfoInterface::SaveUIDL(const std::list<std::wstring>& uids) {
  if (!info_) return false;
  unsigned code = info_->saveUidList(uids);
  return code == OXMDL_ERR_NONE || fail(code);
}

OxStorageInterface* OxAccountInfoInterface::OpenStorage() {
  if (!info_) return nullptr;
  oxm::StorageSet& set = oxm::StorageSet::instance();
  return openPart<OxStorageInterface, oxm::OxStorage>(
      *info_, oxm::kStoragePart,
      [&set](const std::wstring& dir, oxm::OxStorage** out) { return set.open(dir, out); },
      [&set](oxm::OxStorage* storage) { set.release(storage); }, OXMDL_ERR_ACC_OPEN_MAILSTORE);
}

OxSignatureInterface* OxAccountInfoInterface::OpenSignature() {
  if (!info_) return nullptr;
  return openPart<OxSignatureInterface, oxm::OxSignature>(
      *info_, oxm::kSignaturePart, oxm::acquireSignature, oxm::releaseSignature,
      OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
}

OxClassificationParamInterface* OxAccountInfoInterface::OpenClassificationParamInterface() {
  if (!info_) return nullptr;
  return openPart<OxClassificationParamInterface, oxm::OxClassificationParam>(
      *info_, oxm::kClassificationPart, oxm::acquireClassificationParam,
      oxm::releaseClassificationParam, OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
}

bool OxAccountInfoInterface::GetAccountName(std::wstring* name) {
  if (!info_) return false;
  if (!name) return fail(OXMDL_ERR_STG_INVALID_ARG);
  std::wstring directory = oxm::lastComponent(info_->path());
  if (directory.empty()) return fail(OXMDL_ERR_ACC_NAME);
  *name = directory;
  return true;
}

unsigned long OxAccountInfoInterface::GetErrorInfo() const { return GetOxMiddleError(); }

bool OxAccountInfoInterface::CheckValidChar(const std::wstring& name) {
  for (wchar_t c : std::wstring(L"\\/:*?\"<>|")) {
    if (name.find(c) != std::wstring::npos) return fail(OXMDL_ERR_ACC_INVALID_CHAR);
  }
  // Control characters cannot be part of a directory name on the device either.
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F) return fail(OXMDL_ERR_ACC_INVALID_CHAR);
  }
  return true;
}

OxAccountInfoInterface* OxAccountInfoInterface::Create(const std::wstring& name,
                                                       const std::wstring& regkey) {
  return createAccount(name, regkey, true);
}

OxAccountInfoInterface* OxAccountInfoInterface::CreateFeed(const std::wstring& name,
                                                           const std::wstring& regkey) {
  return createAccount(name, regkey, false);
}

bool OxAccountInfoInterface::Rename(const std::wstring& oldName, const std::wstring& newName) {
  oxm::AccountNameTable& table = oxm::nameTable();
  if (!table.built()) {
    std::wstring dataPath;
    unsigned code = oxm::readDataPath(L"", &dataPath);
    if (code == OXMDL_ERR_NONE) code = table.ensureBuilt(dataPath, false);
    if (code != OXMDL_ERR_NONE) return fail(code);
  }
  if (!table.rename(oldName, newName)) return false;
  table.markNotBuilt();
  return true;
}

bool OxAccountInfoInterface::Delete(const std::wstring& name, const std::wstring& regkey) {
  std::wstring dataPath;
  oxm::AccountNameTable& table = oxm::nameTable();
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = table.ensureBuilt(dataPath, false);
  if (code != OXMDL_ERR_NONE) return fail(code);
  const std::wstring* directory = table.directoryOf(name);
  if (!directory) return false;
  code = oxm::removeAccountTree(dataPath + *directory);
  if (code != OXMDL_ERR_NONE) return fail(code);
  table.remove(name);
  return true;
}

OxAccountInfoInterface* OxAccountInfoInterface::OpenAccountInfo(const std::wstring& name,
                                                                const std::wstring& regkey) {
  std::wstring dataPath;
  oxm::AccountNameTable& table = oxm::nameTable();
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = table.ensureBuilt(dataPath, false);
  if (code != OXMDL_ERR_NONE) return failNull<OxAccountInfoInterface>(code);
  const std::wstring* directory = table.directoryOf(name);
  if (!directory) {
    // Not a display name: perhaps the phone number of the phone-number account.
    oxm::NKDbgPrintfW(L"  --->   rstrName:[%s]\r\n", name.c_str());
    std::wstring display;
    if (displayNameOfPhone(name, regkey, &display) != OXMDL_ERR_NONE || display.empty()) {
      oxm::NKDbgPrintfW(L"[DEBUG LOG OpenAccountInfo] return NULL!! \r\n");
      return nullptr;
    }
    directory = table.directoryOf(display);
    if (!directory) {
      oxm::NKDbgPrintfW(L"[DEBUG LOG OpenAccountInfo] return NULL! \r\n");
      return nullptr;
    }
  }
  OxAccountInfo* info = nullptr;
  code = oxm::acquireAccount(dataPath + *directory, &info);
  if (code != OXMDL_ERR_NONE) return failNull<OxAccountInfoInterface>(code);
  return wrap(info);
}

OxAccountInfoInterface* OxAccountInfoInterface::OpenAccountInfoFromPhoneNumber(
    const std::wstring& phone, const std::wstring& regkey) {
  if (phone.size() != 11) {
    oxm::NKDbgPrintfW(L"** OpenAccountInfoFromPhoneNumber() rstrPhoneNumber is Not 11 chars (%s)\r\n",
                      phone.c_str());
    return nullptr;
  }
  return OpenAccountInfoFromFolder(phone, regkey);
}

bool OxAccountInfoInterface::GetAccountNameFromPhoneNumber(wchar_t* phone, wchar_t* out, int size) {
  if (!phone || !out || size <= 0) return fail(OXMDL_ERR_STG_INVALID_ARG);
  const std::wstring number(phone);
  if (number.empty()) return false;
  std::wstring name;
  unsigned code = displayNameOfPhone(number, L"", &name);
  if (code != OXMDL_ERR_NONE) return fail(code);
  std::fill(out, out + size, L'\0');
  std::copy_n(name.begin(), std::min(name.size(), static_cast<size_t>(size) - 1), out);
  return !name.empty();
}

bool OxAccountInfoInterface::GetAccountNameFromPhoneNumber(void* phone, void* out, int size) {
  return GetAccountNameFromPhoneNumber(static_cast<wchar_t*>(phone), static_cast<wchar_t*>(out), size);
}

bool OxAccountInfoInterface::GetAccountPhoneNumberFromName(const std::wstring& name,
                                                           std::wstring& phone,
                                                           const std::wstring& regkey) {
  if (name.empty()) {
    phone.clear();
    return false;
  }
  std::wstring dataPath;
  std::vector<std::wstring> dirs;
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = oxm::listAccountDirectories(dataPath, &dirs);
  if (code != OXMDL_ERR_NONE) return fail(code);
  for (const std::wstring& dir : dirs) {
    const std::wstring file = oxm::joinPath(dataPath + dir, oxm::kAccountInfoFile);
    if (oxm::GetFileAttributesW(file) == oxm::INVALID_FILE_ATTRIBUTES) continue;
    OxProfileManipulator profile(file);
    std::wstring accountName;
    if (profile.GetPrivateProfileString(L"strAccountName", L"", &accountName) && accountName == name) {
      phone = dir;
      return true;
    }
  }
  return false;
}

bool OxAccountInfoInterface::IsExistAccount(std::wstring name, const std::wstring& regkey) {
  std::wstring dataPath;
  std::vector<std::wstring> dirs;
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = oxm::listAccountDirectories(dataPath, &dirs);
  if (code == OXMDL_ERR_ACC_NONE) return false;
  if (code != OXMDL_ERR_NONE) return fail(code);
  return std::find(dirs.begin(), dirs.end(), name) != dirs.end();
}

bool OxAccountInfoInterface::GetAccountNameList(std::vector<std::wstring>* names,
                                                const std::wstring& regkey) {
  if (!names) return fail(OXMDL_ERR_STG_INVALID_ARG);
  std::wstring dataPath;
  oxm::AccountNameTable& table = oxm::nameTable();
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = table.rebuild(dataPath, false);
  if (code != OXMDL_ERR_NONE) return fail(code);
  *names = table.names();
  return true;
}

OxAccountInfoInterface* OxAccountInfoInterface::OpenAccountInfoFromFolder(
    const std::wstring& directory, const std::wstring& regkey) {
  if (!oxm::isPlainName(directory)) return nullptr;
  std::wstring dataPath;
  OxAccountInfo* info = nullptr;
  unsigned code = oxm::readDataPath(regkey, &dataPath);
  if (code == OXMDL_ERR_NONE) code = oxm::acquireAccount(dataPath + directory, &info);
  if (code != OXMDL_ERR_NONE) return failNull<OxAccountInfoInterface>(code);
  return wrap(info);
}

bool OxAccountInfoInterface::GetFileAttributesAccountInfo(const std::wstring& path) {
  return oxm::makeNewDirectory(path);
}
