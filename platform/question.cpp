#include "platform/question.h"

#include <mutex>

namespace {

std::mutex lock;
OxQuestionCallback registered = nullptr;
void* registeredContext = nullptr;

}  // namespace

void OxSetQuestionCallback(OxQuestionCallback callback, void* context) {
  std::lock_guard<std::mutex> g(lock);
  registered = callback;
  registeredContext = context;
}

namespace oxm {

bool askYesNo(const std::wstring& title, const std::wstring& text) {
  OxQuestionCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> g(lock);
    callback = registered;
    context = registeredContext;
  }
  return callback && callback(title.c_str(), text.c_str(), context);
}

}  // namespace oxm
