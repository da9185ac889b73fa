// The platform layer may call the host: nothing here is listed.
#include <unistd.h>
#include <cstdlib>
int f(const char* p) { return unlink(p) + (std::getenv("X") != nullptr) + ::close(3); }
