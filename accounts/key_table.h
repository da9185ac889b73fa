// A settings table row: one key of a profile file tied to one field of a record, with its mask
// bit and default. The account and common-settings tables are arrays of these rows, made from
// their .inc files; reading, writing, defaults and masks all go through the row.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "accounts/guid_text.h"
#include "frame/profile.h"
#include "platform/wintypes.h"

namespace oxm {

template <class Record>
struct KeyRow {
  using Text = std::wstring Record::*;
  using Unsigned = uint32_t Record::*;
  using Signed = int32_t Record::*;  // kept in the file as an unsigned decimal
  using Flag = bool Record::*;
  using Guid = GUID Record::*;

  int bit;
  const wchar_t* key;
  std::variant<Text, Unsigned, Signed, Flag, Guid> field;
  const wchar_t* textDefault;
  uint32_t numberDefault;  // numbers and flags (0 / 1)

  constexpr uint64_t maskBit() const { return uint64_t{1} << bit; }
};

template <class R>
constexpr KeyRow<R> keyRow(int bit, const wchar_t* key, std::wstring R::*f, const wchar_t* def) {
  return {bit, key, f, def, 0};
}
template <class R>
constexpr KeyRow<R> keyRow(int bit, const wchar_t* key, uint32_t R::*f, uint32_t def) {
  return {bit, key, f, L"", def};
}
template <class R>
constexpr KeyRow<R> keyRow(int bit, const wchar_t* key, int32_t R::*f, int32_t def) {
  return {bit, key, f, L"", static_cast<uint32_t>(def)};
}
template <class R>
constexpr KeyRow<R> keyRow(int bit, const wchar_t* key, bool R::*f, int def) {
  return {bit, key, f, L"", static_cast<uint32_t>(def != 0)};
}
template <class R>
constexpr KeyRow<R> keyRow(int bit, const wchar_t* key, GUID R::*f, int /*no default*/) {
  return {bit, key, f, L"", 0};
}

// Every bit of the table.
template <class R, size_t N>
constexpr uint64_t fullMask(const std::array<KeyRow<R>, N>& rows) {
  uint64_t mask = 0;
  for (const auto& row : rows) mask |= row.maskBit();
  return mask;
}

// Rows in ascending bit order, each bit once: the order of reads and writes.
template <class R, size_t N>
constexpr bool ascendingBits(const std::array<KeyRow<R>, N>& rows) {
  for (size_t i = 1; i < N; ++i) {
    if (rows[i - 1].bit >= rows[i].bit || rows[i].bit > 63) return false;
  }
  return true;
}

// A value read as an unsigned long is a 32-bit field; a larger number saturates as the
// device's 32-bit conversion did.
inline uint32_t to32(unsigned long v) {
  return static_cast<uint32_t>(std::min<unsigned long>(v, 0xFFFFFFFFul));
}

// The batch item that reads the row's key: its type and, as its value, the default. A GUID is
// read as text; an empty text leaves the field as it was.
template <class R>
ProfileItem readItem(const KeyRow<R>& row) {
  ProfileItem item;
  item.strKey = row.key;
  if (std::holds_alternative<typename KeyRow<R>::Flag>(row.field)) {
    item.type = PROFILE_ITEM_BOOL;
    item.bValue = row.numberDefault != 0;
  } else if (std::holds_alternative<typename KeyRow<R>::Unsigned>(row.field) ||
             std::holds_alternative<typename KeyRow<R>::Signed>(row.field)) {
    item.type = PROFILE_ITEM_ULONG;
    item.ulValue = row.numberDefault;
  } else {
    item.type = PROFILE_ITEM_TEXT;
    item.strValue = row.textDefault;
  }
  return item;
}

// Stores a read item in the record. False only for GUID text that does not parse (the field
// is then left as it was).
template <class R>
bool takeItem(const KeyRow<R>& row, const ProfileItem& item, R* rec) {
  using Row = KeyRow<R>;
  return std::visit(
      [&](auto member) {
        using M = decltype(member);
        if constexpr (std::is_same_v<M, typename Row::Text>) {
          rec->*member = item.strValue;
        } else if constexpr (std::is_same_v<M, typename Row::Unsigned>) {
          rec->*member = to32(item.ulValue);
        } else if constexpr (std::is_same_v<M, typename Row::Signed>) {
          rec->*member = static_cast<int32_t>(to32(item.ulValue));
        } else if constexpr (std::is_same_v<M, typename Row::Flag>) {
          rec->*member = item.bValue;
        } else {
          if (item.strValue.empty()) return true;
          return parseGuidText(item.strValue, &(rec->*member));
        }
        return true;
      },
      row.field);
}

// The batch item that writes the record's field under the row's key.
template <class R>
ProfileItem writeItem(const KeyRow<R>& row, const R& rec) {
  using Row = KeyRow<R>;
  ProfileItem item;
  item.strKey = row.key;
  std::visit(
      [&](auto member) {
        using M = decltype(member);
        if constexpr (std::is_same_v<M, typename Row::Text>) {
          item.type = PROFILE_ITEM_TEXT;
          item.strValue = rec.*member;
        } else if constexpr (std::is_same_v<M, typename Row::Unsigned>) {
          item.type = PROFILE_ITEM_ULONG;
          item.ulValue = rec.*member;
        } else if constexpr (std::is_same_v<M, typename Row::Signed>) {
          item.type = PROFILE_ITEM_ULONG;
          item.ulValue = static_cast<uint32_t>(rec.*member);
        } else if constexpr (std::is_same_v<M, typename Row::Flag>) {
          item.type = PROFILE_ITEM_BOOL;
          item.bValue = rec.*member;
        } else {
          item.type = PROFILE_ITEM_TEXT;
          item.strValue = guidText(rec.*member);
        }
      },
      row.field);
  return item;
}

// Sets the selected fields of the record to their defaults (a GUID has none and stays).
template <class R, size_t N>
void applyDefaults(const std::array<KeyRow<R>, N>& rows, uint64_t mask, R* rec) {
  for (const auto& row : rows) {
    if (mask & row.maskBit()) takeItem(row, readItem(row), rec);
  }
}

}  // namespace oxm
