// The program's commands; each returns the process exit code.
#pragma once

#include <string>

namespace oxmail {

int runDemo();
int runError(const char* code);

// "the key name contains "=" (OXMDL_ERR_INI_KEY_INVALID, 0x02000099)" for a library code.
std::string describe(unsigned int code);

}  // namespace oxmail
