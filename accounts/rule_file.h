// Rule.cls: the classification rules of one directory, one line per rule, UTF-16LE without
// BOM: name TAB field TAB keyword TAB folder id TAB target CR LF (the numbers signed decimal).
// Older directories hold Data.ini (a profile file with "count" and per rule i the keys
// "<i>name", "<i>field", "<i>keyword", "<i>folderid"), converted at the first read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "accounts/classification.h"
#include "platform/mutex.h"

namespace oxm {

inline constexpr const wchar_t* kRuleFile = L"Rule.cls";
inline constexpr const wchar_t* kOldRuleFile = L"Data.ini";
inline constexpr size_t kMaxRules = 256;
// Rules converted from Data.ini apply to received messages: the old store knew no other kind.
inline constexpr uint32_t kConvertedRuleTarget = 1;

using Rule = OxClassificationParamInterface::Attributes;

// One classification directory. Reads and writes hold "OxClassificationParam Mutex" (one name
// for every rule file) for their whole run.
class OxClassificationParam {
 public:
  explicit OxClassificationParam(std::wstring dir);
  const std::wstring& directory() const { return dir_; }

  unsigned read(std::vector<Rule>* rules);
  unsigned write(const std::vector<Rule>& rules);

 private:
  std::wstring dir_;
  std::wstring file_;
  NamedMutex mutex_;
};

// The bytes of Rule.cls for these rules (each text cut to its column's length, then stripped
// of characters below U+0020).
std::string ruleFileBytes(const std::vector<Rule>& rules);

// Converts dir\Data.ini into dir\Rule.cls and deletes Data.ini. No "count" or a rule entry
// empty or missing: OXMDL_ERR_CLS_FILE_FIELD; more than 256 rules: OXMDL_ERR_CLS_TOO_MANY;
// Rule.cls cannot be made or written: OXMDL_ERR_CLS_FILE_OPEN / _WRITE. On failure no Rule.cls
// is left and Data.ini stays.
unsigned convertDataIni(const std::wstring& dir);

// The set of open rule-file objects, one per directory, guarded by
// "OxClassificationParamSet Mutex".
unsigned acquireClassificationParam(const std::wstring& dir, OxClassificationParam** out);
void releaseClassificationParam(const OxClassificationParam* param);
// Whether an interface on the directory is open (account deletion must not go on).
bool classificationParamInUse(const std::wstring& dir);

// A new account's empty Rule.cls: OXMDL_ERR_CLS_CREATE when it cannot be made.
unsigned createEmptyRuleFile(const std::wstring& dir);
// Removes the directory tree: OXMDL_ERR_CLS_TREE_FIND / _DELFILE / _RMDIR.
unsigned removeClassificationTree(const std::wstring& dir);

}  // namespace oxm
