#include "codec/line_ends.h"

#include <cstring>

#include "codec/heap_probe.h"
#include "frame/oxerror.h"

namespace oxm {

namespace {

template <typename S>
unsigned addCr(S* text) {
  using C = typename S::value_type;
  size_t lone = 0;
  for (size_t i = 0; i < text->size(); ++i)
    if ((*text)[i] == C('\n') && (i == 0 || (*text)[i - 1] != C('\r'))) ++lone;
  if (lone == 0) return OXMDL_ERR_NONE;
  const unsigned code = heapProbe((text->size() + lone) * sizeof(C));
  if (code != OXMDL_ERR_NONE) return code;
  S out;
  out.reserve(text->size() + lone);
  for (size_t i = 0; i < text->size(); ++i) {
    const C c = (*text)[i];
    if (c == C('\n') && (i == 0 || (*text)[i - 1] != C('\r'))) out += C('\r');
    out += c;
  }
  *text = std::move(out);
  return OXMDL_ERR_NONE;
}

}  // namespace

unsigned replace0D0Ato0A(std::string* text) {
  const unsigned code = heapProbe(text->size());
  if (code != OXMDL_ERR_NONE) return code;
  // In place: the text only shrinks. memchr finds the next CR quickly in long lines.
  char* data = text->data();
  const size_t n = text->size();
  size_t out = 0;
  size_t i = 0;
  while (i < n) {
    const void* cr = std::memchr(data + i, '\r', n - i);
    const size_t at = cr ? static_cast<size_t>(static_cast<const char*>(cr) - data) : n;
    if (out != i) std::memmove(data + out, data + i, at - i);
    out += at - i;
    i = at;
    if (i >= n) break;
    if (i + 1 < n && data[i + 1] == '\n') {
      i += 1;  // drop the CR; the LF is copied with the next run
    } else {
      data[out++] = '\r';
      i += 1;
    }
  }
  text->resize(out);
  return OXMDL_ERR_NONE;
}

unsigned replace0Ato0D0A(std::wstring* text) { return addCr(text); }
unsigned replace0Ato0D0A_S(std::string* text) { return addCr(text); }

}  // namespace oxm
