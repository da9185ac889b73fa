// A command's arguments: positionals and options ("--to X", "--to=X", flags like "--raw").
// Unknown options, a missing value and missing or extra positionals are usage errors.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace oxmail {

class Args {
 public:
  Args(const std::vector<std::string>& words, std::initializer_list<const char*> withValue,
       std::initializer_list<const char*> flags = {});

  bool has(const std::string& flag) const { return flags_.count(flag) != 0; }
  std::optional<std::string> value(const std::string& option) const;
  std::vector<std::string> values(const std::string& option) const;
  const std::vector<std::string>& positionals() const { return positionals_; }
  // Positional i, or a usage error "missing <what>".
  const std::string& need(size_t i, const char* what) const;
  // A usage error when more than n positionals were given.
  void atMost(size_t n) const;

 private:
  std::map<std::string, std::vector<std::string>> values_;
  std::set<std::string> flags_;
  std::vector<std::string> positionals_;
};

}  // namespace oxmail
