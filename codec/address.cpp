#include "codec/address.h"

#include "codec/text_util.h"

namespace oxm {

namespace {

template <typename S>
bool enclosedIn(const S& s, typename S::value_type open, typename S::value_type close) {
  return s.size() >= 2 && s.front() == open && s.back() == close;
}

// The rules, in order:
// 1. With "<" and ">", the address is between the last "<" and the last ">". When that "<" is
//    not the first character, the name is the text before it, without one pair of enclosing
//    parentheses or double quotes, and that is all.
// 2. Otherwise the name is what the first parentheses enclose, or (winning) what the first two
//    double quotes enclose. A still missing address is the text before "(" when a comment
//    follows it, else the whole text when there are no quotes or they open it, else the text
//    before the first quote. A still missing name is the text before a "<" that is not first.
template <typename S>
void parseAddressImpl(const S& raw, S* address, S* name) {
  using C = typename S::value_type;
  const S text = trimBlanks(raw);
  const size_t npos = S::npos;
  S addr;
  S nm;
  const size_t lt = text.rfind(C('<'));
  const size_t gt = text.rfind(C('>'));
  if (lt != npos && gt != npos) {
    if (gt > lt) addr = trimBlanks(text.substr(lt + 1, gt - lt - 1));
    if (lt != 0) {
      nm = trimBlanks(text.substr(0, lt));
      if (enclosedIn(nm, C('('), C(')')) || enclosedIn(nm, C('"'), C('"'))) nm = nm.substr(1, nm.size() - 2);
      *address = std::move(addr);
      *name = std::move(nm);
      return;
    }
  }
  const size_t open = text.find(C('('));
  const size_t close = text.find(C(')'));
  if (open != npos && close != npos && close > open) nm = trimBlanks(text.substr(open + 1, close - open - 1));
  const size_t q1 = text.find(C('"'));
  const size_t q2 = q1 == npos ? npos : text.find(C('"'), q1 + 1);
  if (q2 != npos) nm = trimBlanks(text.substr(q1 + 1, q2 - q1 - 1));
  if (addr.empty()) {
    if (open != npos && open >= 1 && close != npos)
      addr = trimBlanks(text.substr(0, open));
    else if (q2 == npos || q1 == 0)
      addr = text;
    else
      addr = trimBlanks(text.substr(0, q1));
  }
  const size_t firstLt = text.find(C('<'));
  if (nm.empty() && firstLt != npos && firstLt >= 1) nm = trimBlanks(text.substr(0, firstLt));
  *address = std::move(addr);
  *name = std::move(nm);
}

}  // namespace

void parseSingleAddress(const std::string& in, std::string* address, std::string* name) {
  parseAddressImpl(in, address, name);
}

void parseSingleAddress(const std::wstring& in, std::wstring* address, std::wstring* name) {
  parseAddressImpl(in, address, name);
}

std::list<std::string> bareAddressList(const std::string& value) {
  std::list<std::string> list;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size() && value[i] == '"') quoted = !quoted;
    if (i == value.size() || (value[i] == ',' && !quoted)) {
      std::string address, name;
      parseSingleAddress(value.substr(start, i - start), &address, &name);
      list.push_back(std::move(address));
      start = i + 1;
    }
  }
  return list;
}

void splitFrom(const std::string& value, std::string* from, std::string* fromName) {
  std::string address, name;
  parseSingleAddress(value, &address, &name);
  const std::string form = name.empty() ? address : "\"" + name + "\" <" + address + ">";
  const size_t lt = form.find('<');
  if (lt == std::string::npos) {
    *from = form;
    fromName->clear();
    return;
  }
  const size_t gt = form.find('>', lt + 1);
  *fromName = trimBlanks(form.substr(0, lt));
  *from = trimBlanks(form.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1));
}

}  // namespace oxm
