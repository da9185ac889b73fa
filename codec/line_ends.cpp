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
  size_t from = 0;
  for (size_t lf = text->find(C('\n')); lf != S::npos; lf = text->find(C('\n'), lf + 1)) {
    if (lf != 0 && (*text)[lf - 1] == C('\r')) continue;
    out.append(*text, from, lf - from);
    out += C('\r');
    from = lf;
  }
  out.append(*text, from, S::npos);
  *text = std::move(out);
  return OXMDL_ERR_NONE;
}

}  // namespace

unsigned replace0D0Ato0A(std::string_view in, std::string* out) {
  const unsigned code = heapProbe(in.size());
  if (code != OXMDL_ERR_NONE) return code;
  std::string result;
  result.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const void* cr = std::memchr(in.data() + i, '\r', in.size() - i);
    const size_t at = cr ? static_cast<size_t>(static_cast<const char*>(cr) - in.data()) : in.size();
    result.append(in.data() + i, at - i);
    if (at >= in.size()) break;
    if (at + 1 >= in.size() || in[at + 1] != '\n') result += '\r';  // a lone CR stays
    i = at + 1;
  }
  *out = std::move(result);
  return OXMDL_ERR_NONE;
}

unsigned replace0D0Ato0A(std::string* text) { return replace0D0Ato0A(*text, text); }

unsigned replace0Ato0D0A(std::wstring* text) { return addCr(text); }
unsigned replace0Ato0D0A_S(std::string* text) { return addCr(text); }

}  // namespace oxm
