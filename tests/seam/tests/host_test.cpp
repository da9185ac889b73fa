// Tests may call the host: nothing here is listed.
#include <filesystem>
#include <cstdlib>
int g() { return std::getenv("TMPDIR") != nullptr; }
