// The questions the library puts to the user (an untrusted server certificate): the program
// registers a callback that shows the question and returns the answer. Without a callback the
// answer is No, so a program without a user (a timer run, a script) never accepts anything.
#pragma once

#include <string>

// True for Yes. Called on the thread that does the network work, not the program's main thread.
typedef bool (*OxQuestionCallback)(const wchar_t* title, const wchar_t* text, void* context);

// Replaces the callback (null removes it); `context` is handed back on each call.
void OxSetQuestionCallback(OxQuestionCallback callback, void* context);

namespace oxm {

// A Yes/No message box: the callback's answer, or false without one.
bool askYesNo(const std::wstring& title, const std::wstring& text);

}  // namespace oxm
