// Common settings: the settings of the mail program as a whole (periodic retrieval, the start
// screen's feed lines) in CommonSetting.ini of the system directory ("SystemInfoPath").
// OxCommonSettingInterface reads and writes them as one Attributes record selected by a field
// mask, one profile operation per field.
#pragma once

#include <cstdint>
#include <string>

#include "accounts/field_types.h"

class OxProfileManipulator;

class OxCommonSettingInterface {
 public:
  // `mask` bit n selects the key of bit n in common_keys.inc; fields named as the keys.
  struct Attributes {
    uint64_t mask = 0;
#define OXM_COMMON_KEY(bit, type, name, def) OXM_FIELD_TYPE_##type name{};
#include "accounts/common_keys.inc"
#undef OXM_COMMON_KEY
  };
  // The mask bit of each key, named as the key.
  struct Mask {
#define OXM_COMMON_KEY(bit, type, name, def) static constexpr uint64_t name = uint64_t{1} << (bit);
#include "accounts/common_keys.inc"
#undef OXM_COMMON_KEY
  };

  // Finds the file under "SystemInfoPath" of `regkey` (empty: the mail program's key) and makes
  // it, empty, when it is missing. No SystemInfoPath: OXMDL_ERR_COM_NO_PATH; the file cannot be
  // made: OXMDL_ERR_COM_CREATE. After a failure every member fails without a new code.
  explicit OxCommonSettingInterface(const std::wstring& regkey);
  ~OxCommonSettingInterface();
  OxCommonSettingInterface(const OxCommonSettingInterface&) = delete;
  OxCommonSettingInterface& operator=(const OxCommonSettingInterface&) = delete;

  // Reads each selected field with its default; every field is tried, one that fails keeps its
  // value, and the result is true only when all were read. Mask 0: OXMDL_ERR_COM_GET_NOMASK.
  // The mask is 0 on return.
  bool GetCommonSettingAttributes(Attributes* attrs) const;
  // Writes each selected field (one rewrite each); all are tried. A failure gives
  // OXMDL_ERR_COM_SET, or OXMDL_ERR_INI_DISK_FULL for lack of space. Mask 0:
  // OXMDL_ERR_COM_SET_NOMASK. The mask is 0 on return.
  bool SetCommonSettingAttributes(Attributes& attrs);
  unsigned long GetErrorInfo() const;

 private:
  bool CheckComSettingIni(const std::wstring& path);

  OxProfileManipulator* profile_ = nullptr;
};
