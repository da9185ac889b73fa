// Readers that turn the parser's tree into plain C++ values, for the tests and the tools beside them.
#pragma once

#include <string>
#include <vector>

#include "feeds/rssparser/src/mfd_list.h"
#include "feeds/rssparser/src/mfd_str.h"

namespace oxm::test {

// What an accessor gave: the text, or "<absent>" for 5 (any other code shows as "<code N>").
template <typename T>
std::wstring field(int (*get)(const T*, const wchar_t**), const T* object) {
  const wchar_t* value = nullptr;
  const int rc = get(object, &value);
  if (rc == 5) return L"<absent>";
  return rc ? L"<code " + std::to_wstring(rc) + L">" : value;
}

// Every field of a tree object in order joined with "|" (an absent one empty), or "<none>".
template <typename T>
std::wstring fields(const T* object) {
  if (!object) return L"<none>";
  std::wstring out;
  for (const mfd_str& f : object->field)
    out += (&f == object->field ? L"" : L"|") + (f.length ? std::wstring(f.text, f.length) : L"");
  return out;
}

// The values of a list, in order (first/next walk).
template <typename T>
std::vector<T*> listed(mfd_list* list) {
  std::vector<T*> out;
  void* v = nullptr;
  for (int rc = mfd_list_first(list, &v); rc == 0; rc = mfd_list_next(list, &v)) out.push_back(static_cast<T*>(v));
  return out;
}

// The values of the list an accessor gives, or none when it gives none.
template <typename V, typename T>
std::vector<V*> listOf(int (*get)(const T*, mfd_list**), const T* object) {
  mfd_list* list = nullptr;
  return get(object, &list) == 0 ? listed<V>(list) : std::vector<V*>{};
}

// A part of an object (picture, text input, module), or null when the accessor gives none.
template <typename P, typename T>
P* part(int (*get)(const T*, P**), const T* object) {
  P* out = nullptr;
  return get(object, &out) == 0 ? out : nullptr;
}

// A list of texts of an object joined with ",", or "<absent>".
template <typename T>
std::wstring joined(int (*get)(const T*, mfd_list**), const T* object) {
  std::wstring out;
  for (const wchar_t* text : listOf<wchar_t>(get, object)) out += (out.empty() ? L"" : L",") + std::wstring(text);
  return out.empty() ? L"<absent>" : out;
}

}  // namespace oxm::test
