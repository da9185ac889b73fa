#include "frame/oxerror.h"

#include <algorithm>
#include <iterator>

namespace {

unsigned int lastError = 0;  // one per process, as callers of the library expect

struct ErrorRow {
  unsigned int code;
  const char* name;
  const char* text;
};

constexpr ErrorRow errorRows[] = {
#define OXM_ERROR(name, value, text) {value, #name, text},
#include "frame/oxerror_table.inc"
#undef OXM_ERROR
};

// The lookups below rely on the table's order.
constexpr bool strictlyAscending() {
  for (size_t i = 1; i < std::size(errorRows); ++i) {
    if (errorRows[i - 1].code >= errorRows[i].code) return false;
  }
  return true;
}
static_assert(strictlyAscending(), "oxerror_table.inc must list each value once, ascending");

const ErrorRow* findRow(unsigned int code) {
  auto row = std::lower_bound(std::begin(errorRows), std::end(errorRows), code,
                              [](const ErrorRow& r, unsigned int c) { return r.code < c; });
  return row != std::end(errorRows) && row->code == code ? row : nullptr;
}

}  // namespace

unsigned int GetOxMiddleError() { return lastError; }

void SetOxMiddleError(unsigned int code) { lastError = code; }

const char* GetOxMiddleErrorName(unsigned int code) {
  const ErrorRow* row = findRow(code);
  return row ? row->name : nullptr;
}

const char* GetOxMiddleErrorText(unsigned int code) {
  const ErrorRow* row = findRow(code);
  return row ? row->text : nullptr;
}
