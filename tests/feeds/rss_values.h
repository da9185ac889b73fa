// Readers that turn the parser's tree into plain C++ values, for the tests and the tools beside
// them.
#pragma once

#include <string>
#include <vector>

#include "feeds/rssparser/src/mfd_list.h"

namespace oxm::test {

// What an accessor gave: the text, or "<absent>" for 5 (any other code shows as "<code N>").
template <typename T>
std::wstring field(int (*get)(const T*, const wchar_t**), const T* object) {
  const wchar_t* value = nullptr;
  const int rc = get(object, &value);
  if (rc == 5) return L"<absent>";
  if (rc != 0) return L"<code " + std::to_wstring(rc) + L">";
  return value;
}

// The values of a list, in order (first/next walk).
template <typename T>
std::vector<T*> listed(mfd_list* list) {
  std::vector<T*> out;
  void* v = nullptr;
  for (int rc = mfd_list_first(list, &v); rc == 0; rc = mfd_list_next(list, &v)) out.push_back(static_cast<T*>(v));
  return out;
}

}  // namespace oxm::test
