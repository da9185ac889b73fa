// Classification rules: an account's ordered list of at most 256 rules, each naming a header
// field, a keyword and the folder that messages whose field contains the keyword go to. They
// live in Rule.cls in the account's Classification directory. OxClassificationParamInterface
// reads and writes the whole list; it is opened with
// OxAccountInfoInterface::OpenClassificationParamInterface and deleted by the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oxm {
class OxClassificationParam;
}  // namespace oxm

class OxClassificationParamInterface {
 public:
  // One rule. The file keeps at most 10, 9 and 128 characters of the three texts (UTF-16
  // units; control characters are dropped after the cut).
  struct Attributes {
    std::wstring strName;
    std::wstring strField;  // "From", "To", "Cc", "件名" (subject) or "X-ML-name"
    std::wstring strKeyword;
    uint32_t ulFolderID = 0;  // destination folder in the account's storage
    uint32_t ulTarget = 0;    // 1 received messages, 2 the others, 3 both
    uint32_t ulFormat = 0;    // 0: read from a five-column line, 16: from an old four-column one
  };

  // Wraps a shared rule-file object; the destructor hands it back to its set. A null object
  // makes both operations return false without touching the last error.
  explicit OxClassificationParamInterface(oxm::OxClassificationParam* param);
  ~OxClassificationParamInterface();
  OxClassificationParamInterface(const OxClassificationParamInterface&) = delete;
  OxClassificationParamInterface& operator=(const OxClassificationParamInterface&) = delete;

  // Replaces *rules by the file's rules. No output: OXMDL_ERR_CLS_NULL_ARG. No Rule.cls at all:
  // an old Data.ini is converted first (OXMDL_ERR_CLS_FILE_MIGRATE when that fails). A line
  // without a TAB among its first three columns or without its line end stops the read with
  // OXMDL_ERR_CLS_FILE_FIELD (five columns: OXMDL_ERR_CLS_FILE_FORMAT); an old four-column line
  // is read (ulTarget 0, ulFormat 16) and the read returns false with
  // OXMDL_ERR_CLS_FILE_OLD_LINE; more than 256 rules: OXMDL_ERR_CLS_TOO_MANY. On failure *rules
  // holds the rules read before the failing line.
  bool GetAttributes(std::vector<Attributes>* rules);
  // Replaces Rule.cls crash-safely by the given rules. More than 256: OXMDL_ERR_CLS_TOO_MANY
  // with the file untouched; no rule file at all: OXMDL_ERR_CLS_FILE_NOFILE; the new file
  // cannot be written: OXMDL_ERR_CLS_FILE_OPEN, OXMDL_ERR_CLS_DISK_FULL or
  // OXMDL_ERR_CLS_FILE_WRITE, the old file kept.
  bool SetAttributes(const std::vector<Attributes>& rules);
  unsigned long GetErrorInfo() const;

 private:
  oxm::OxClassificationParam* param_;
};
