#include "accounts/account_create.h"

#include "accounts/account_set.h"
#include "accounts/paths.h"
#include "accounts/rule_file.h"
#include "accounts/signature_files.h"
#include "accounts/tree.h"
#include "frame/oxerror.h"
#include "frame/profile.h"
#include "platform/device.h"
#include "platform/fs.h"
#include "store/storage_tree.h"

namespace oxm {

namespace {

// A part of the account: its key and directory name, and what fills the new directory.
struct PartStep {
  const PartKey* part;
  unsigned (*fill)(const std::wstring& dir);
};

constexpr PartStep kPartSteps[] = {
    {&kStoragePart, createStorageTree},
    {&kClassificationPart, createEmptyRuleFile},
    {&kSignaturePart, createSignatureFiles},
};

unsigned createEmptyFile(const std::wstring& path) {
  File f;
  return f.openStream(path, "wb") ? OXMDL_ERR_NONE : OXMDL_ERR_ACC_CREATE_UIDFILE;
}

}  // namespace

unsigned createAccountFiles(const std::wstring& path, OxAccountInfo** out) {
  uint64_t freeBytes = 0;
  if (!GetDiskFreeSpaceExW(path, &freeBytes) || freeBytes < kAccountCreationFreeBytes) {
    return OXMDL_ERR_ACC_DISK_FULL;
  }
  const std::wstring parent = path.substr(0, path.size() - lastComponent(path).size());
  if (!parent.empty() && GetFileAttributesW(parent) == INVALID_FILE_ATTRIBUTES &&
      !OxCreateDeviceDirectory(parent)) {
    return OXMDL_ERR_ACC_CREATE_DIR;
  }
  if (!makeNewDirectory(path)) return OXMDL_ERR_ACC_CREATE_DIR;

  OxProfileManipulator profile(joinPath(path, kAccountInfoFile));
  if (!profile.CreateNewProfile()) return GetOxMiddleError();
  for (const PartStep& step : kPartSteps) {
    if (!profile.WritePrivateProfileString(step.part->key, step.part->name)) {
      return GetOxMiddleError();
    }
    const std::wstring dir = joinPath(path, step.part->name);
    if (!makeNewDirectory(dir)) return OXMDL_ERR_ACC_CREATE_DIR;
    if (step.fill) {
      unsigned code = step.fill(dir);
      if (code != OXMDL_ERR_NONE) return code;
    }
  }
  for (const wchar_t* name : {kLastUidFile, kUidListFile}) {
    unsigned code = createEmptyFile(joinPath(path, name));
    if (code != OXMDL_ERR_NONE) return code;
  }
  return acquireAccount(path, out) == OXMDL_ERR_NONE ? OXMDL_ERR_NONE : OXMDL_ERR_ACC_CREATE;
}

}  // namespace oxm
