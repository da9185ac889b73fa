// The companion library as the tests build it: it keeps the flags it was called with, which
// the test reads while it holds the library loaded.
#include <string>

namespace {
std::string calls;
}

extern "C" int PhonelibSet2ndRingFrEmailApp(int flag) {
  calls += static_cast<char>('0' + flag);
  return 0;
}

extern "C" const char* OxmTestDynCalls() { return calls.c_str(); }

extern "C" void OxmTestDynReset() { calls.clear(); }
