#include "tools/oxmail/args.h"

#include "tools/oxmail/output.h"

namespace oxmail {

Args::Args(const std::vector<std::string>& words, std::initializer_list<const char*> withValue,
           std::initializer_list<const char*> flags) {
  const std::set<std::string> valued(withValue.begin(), withValue.end());
  const std::set<std::string> known(flags.begin(), flags.end());
  bool optionsEnd = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (optionsEnd || w.size() < 2 || w.compare(0, 2, "--") != 0) {
      positionals_.push_back(w);
      continue;
    }
    if (w == "--") {
      optionsEnd = true;
      continue;
    }
    const size_t eq = w.find('=');
    const std::string name = w.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    if (valued.count(name)) {
      if (eq != std::string::npos) {
        values_[name].push_back(w.substr(eq + 1));
      } else if (i + 1 < words.size()) {
        values_[name].push_back(words[++i]);
      } else {
        throw UsageError("option --" + name + " needs a value");
      }
    } else if (known.count(name) && eq == std::string::npos) {
      flags_.insert(name);
    } else {
      throw UsageError("unknown option " + w);
    }
  }
}

std::optional<std::string> Args::value(const std::string& option) const {
  auto it = values_.find(option);
  if (it == values_.end()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> Args::values(const std::string& option) const {
  auto it = values_.find(option);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

const std::string& Args::need(size_t i, const char* what) const {
  if (i >= positionals_.size()) throw UsageError(std::string("missing ") + what);
  return positionals_[i];
}

void Args::atMost(size_t n) const {
  if (positionals_.size() > n) throw UsageError("unexpected argument '" + positionals_[n] + "'");
}

}  // namespace oxmail
