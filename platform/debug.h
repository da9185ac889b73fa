// Debug output: NKDbgPrintfW lines go to stderr (as UTF-8) when OXMIDDLE_DEBUG=1. Tests capture
// them instead.
#pragma once

#include <string>

namespace oxm {

void NKDbgPrintfW(const wchar_t* format, ...);

// While capturing, every line is appended to a buffer (and not printed).
void debugCaptureStart();
std::wstring debugCaptured();
void debugCaptureStop();

}  // namespace oxm
