#include "accounts/common_setting.h"

#include <array>
#include <new>

#include "accounts/common_defaults.h"
#include "accounts/key_table.h"
#include "accounts/paths.h"
#include "frame/oxerror.h"
#include "frame/profile.h"
#include "platform/fs.h"

namespace {

using Attributes = OxCommonSettingInterface::Attributes;
using Row = oxm::KeyRow<Attributes>;

constexpr std::array kCommonKeys = {
#define OXM_COMMON_KEY(bit, type, name, def) oxm::keyRow(bit, L"" #name, &Attributes::name, def),
#include "accounts/common_keys.inc"
#undef OXM_COMMON_KEY
};
static_assert(oxm::ascendingBits(kCommonKeys), "common_keys.inc: bits ascending, each once");

constexpr const wchar_t* kCommonSettingFile = L"CommonSetting.ini";

// One typed single read of the row's key into the record; the field keeps its value on failure.
bool readField(OxProfileManipulator& profile, const Row& row, Attributes* attrs) {
  if (auto flag = std::get_if<Row::Flag>(&row.field)) {
    bool value = false;
    if (!profile.GetPrivateProfileBool(row.key, row.numberDefault != 0, &value)) return false;
    attrs->**flag = value;
    return true;
  }
  unsigned long value = 0;
  if (!profile.GetPrivateProfileULong(row.key, row.numberDefault, &value)) return false;
  attrs->*std::get<Row::Unsigned>(row.field) = oxm::to32(value);
  return true;
}

bool writeField(OxProfileManipulator& profile, const Row& row, const Attributes& attrs) {
  if (auto flag = std::get_if<Row::Flag>(&row.field)) {
    return profile.WritePrivateProfileBool(row.key, attrs.**flag);
  }
  return profile.WritePrivateProfileULong(row.key, attrs.*std::get<Row::Unsigned>(row.field));
}

}  // namespace

void oxm::applyCommonDefaults(OxCommonSettingInterface::Attributes* attrs, uint64_t mask) {
  applyDefaults(kCommonKeys, mask, attrs);
}

OxCommonSettingInterface::OxCommonSettingInterface(const std::wstring& regkey) {
  std::wstring dir;
  if (oxm::readSystemInfoPath(regkey, &dir) != OXMDL_ERR_NONE) {
    SetOxMiddleError(OXMDL_ERR_COM_NO_PATH);
    return;
  }
  const std::wstring path = dir + kCommonSettingFile;
  if (!CheckComSettingIni(path)) return;
  profile_ = new (std::nothrow) OxProfileManipulator(path);
  if (!profile_) SetOxMiddleError(OXMDL_ERR_STG_NOT_ENOUGH_MEMORY);
}

OxCommonSettingInterface::~OxCommonSettingInterface() { delete profile_; }

bool OxCommonSettingInterface::CheckComSettingIni(const std::wstring& path) {
  oxm::File f;
  if (f.openStream(path, "rb")) return true;
  OxProfileManipulator fresh(path);
  if (fresh.CreateNewProfile()) return true;
  SetOxMiddleError(OXMDL_ERR_COM_CREATE);
  return false;
}

bool OxCommonSettingInterface::GetCommonSettingAttributes(Attributes* attrs) const {
  if (!profile_) return false;
  if (!attrs) {
    SetOxMiddleError(OXMDL_ERR_STG_INVALID_ARG);
    return false;
  }
  const uint64_t mask = attrs->mask;
  attrs->mask = 0;
  if (mask == 0) {
    SetOxMiddleError(OXMDL_ERR_COM_GET_NOMASK);
    return false;
  }
  bool all = true;
  for (const Row& row : kCommonKeys) {
    if ((mask & row.maskBit()) && !readField(*profile_, row, attrs)) all = false;
  }
  return all;
}

bool OxCommonSettingInterface::SetCommonSettingAttributes(Attributes& attrs) {
  if (!profile_) return false;
  const uint64_t mask = attrs.mask;
  attrs.mask = 0;
  if (mask == 0) {
    SetOxMiddleError(OXMDL_ERR_COM_SET_NOMASK);
    return false;
  }
  unsigned failed = OXMDL_ERR_NONE;
  for (const Row& row : kCommonKeys) {
    if ((mask & row.maskBit()) && !writeField(*profile_, row, attrs)) failed = GetOxMiddleError();
  }
  if (failed == OXMDL_ERR_NONE) return true;
  SetOxMiddleError(failed == OXMDL_ERR_INI_DISK_FULL ? failed : OXMDL_ERR_COM_SET);
  return false;
}

unsigned long OxCommonSettingInterface::GetErrorInfo() const { return GetOxMiddleError(); }
