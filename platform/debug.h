// Debug output: NKDbgPrintfW lines go to stderr (as UTF-8) when OXMIDDLE_DEBUG=1. Tests capture
// them instead.
#pragma once

#include <string>

namespace oxm {

// Formats as the device's wide printf did and writes the text as it is (the caller ends it
// with "\r\n"): %s and %c take wide text, %S, %hs, %C and %hc narrow text (ASCII only: the
// host C library decodes it), %ls and %lc wide, %I64d a 64-bit value. A format or argument that
// cannot be formatted, or a text over 1M characters, writes nothing.
void NKDbgPrintfW(const wchar_t* format, ...);

// While capturing, every line is appended to a buffer (and not printed). Start and stop
// empty the buffer.
void debugCaptureStart();
std::wstring debugCaptured();
void debugCaptureStop();

}  // namespace oxm
