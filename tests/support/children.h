// Forked children for the tests of shared files and locks.
#pragma once

#include <functional>

namespace oxm::test {

// Runs body(0) .. body(n - 1) in n forked children released together, so that they really
// overlap; true when every child returned true and exited on its own.
bool inChildren(int n, const std::function<bool(int)>& body);

// The status waitpid() gives for one forked child running body (its result is the exit code).
int childStatus(const std::function<int()>& body);

}  // namespace oxm::test
