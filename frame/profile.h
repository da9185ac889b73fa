// Profile (settings) files: UTF-16LE key=value lines, the first line a byte-order mark, every
// later line scrambled with the file's line key. OxProfileManipulator reads and writes one file.
#pragma once

#include <list>
#include <map>
#include <string>

enum ProfileItemType {
  PROFILE_ITEM_TEXT = 0,
  PROFILE_ITEM_ULONG = 1,
  PROFILE_ITEM_BOOL = 2,
};

// One entry of a batch read or write. On read the value field of the item's type holds the
// default on entry and the value read on return.
struct ProfileItem {
  std::wstring strKey;
  std::wstring strValue;
  unsigned long ulValue = 0;
  bool bValue = false;
  ProfileItemType type = PROFILE_ITEM_TEXT;
};

namespace oxm {
class NamedMutex;
}  // namespace oxm

// Every member returns false on failure and sets the library's last error; a file is never
// left half-written: a rewrite goes to path + "_tmp" first and replaces the file in one step.
class OxProfileManipulator {
 public:
  explicit OxProfileManipulator(std::wstring path);
  ~OxProfileManipulator();
  OxProfileManipulator(const OxProfileManipulator&) = delete;
  OxProfileManipulator& operator=(const OxProfileManipulator&) = delete;

  // Reads one key. True whenever the file could be opened; a missing key or an empty value
  // gives `def`. A key with "=" fails with OXMDL_ERR_INI_KEY_INVALID; no file (and no
  // temporary file) OXMDL_ERR_INI_NOFILE.
  bool GetPrivateProfileString(const std::wstring& key, const std::wstring& def, std::wstring* out);
  // Writes one key, keeping every other line and the line key. The file must exist
  // (OXMDL_ERR_INI_SIZE otherwise, nothing is created); free space must exceed the file's
  // length + 0x7F000 (OXMDL_ERR_INI_DISK_FULL); a key with "=" is refused before the file is
  // touched.
  bool WritePrivateProfileString(const std::wstring& key, const std::wstring& value);
  // "1" is true, "0" false, anything else the default.
  bool GetPrivateProfileBool(const std::wstring& key, const bool& def, bool* out);
  // An unsigned decimal; 0 only from the exact text "0", anything unparsable the default.
  bool GetPrivateProfileULong(const std::wstring& key, const unsigned long& def, unsigned long* out);
  bool WritePrivateProfileBool(const std::wstring& key, const bool& value);
  bool WritePrivateProfileULong(const std::wstring& key, const unsigned long& value);
  // (Re)creates the file with only the BOM line and a fresh line key (2..14).
  bool CreateNewProfile();
  // Reads many keys in one pass; each item's value on entry is its default.
  bool ReadProfileItems(std::list<ProfileItem>& items);
  // Writes many keys in one rewrite: every key already in the file is kept, lines are sorted
  // by key and scrambled with a fresh line key. The list is emptied on every return.
  bool WriteProfileItems(std::list<ProfileItem>& items);

 private:
  bool readText(const std::u16string& key, std::u16string* value);
  bool writeText(const std::u16string& key, const std::u16string& value);
  // Reads the file into map_ for a batch call; false with the error set.
  bool loadMap();

  std::wstring path_;
  std::wstring tmpPath_;
  oxm::NamedMutex* mutex_;
  // The batch operations' view of the file, ordered by UTF-16 code units as the file is.
  std::map<std::u16string, std::u16string> map_;
};
