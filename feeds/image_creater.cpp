#include "feeds/image_creater.h"

#include "frame/oxerror.h"

unsigned long ImageCreater::fail(unsigned long code) {
  lastError_ = code;
  SetOxMiddleError(static_cast<unsigned>(code));
  return code;
}

bool ImageCreater::Create(const std::wstring&, const std::wstring&, int, int) {
  fail(OXMDL_ERR_RSS_IMAGE_SCALE);  // not written yet
  return false;
}
