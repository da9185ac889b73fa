#include "feeds/image_creater.h"

#include "feeds/scratch_file.h"
#include "frame/oxerror.h"
#include "platform/debug.h"
#include "platform/imaging.h"

namespace {

// The display copies are small; this quality keeps them a few kilobytes.
constexpr int kJpegQuality = 85;

unsigned libraryCode(oxm::ImagingResult result) {
  switch (result) {
    case oxm::ImagingResult::Ok: return OXMDL_ERR_NONE;
    case oxm::ImagingResult::TooLarge: return OXMDL_ERR_MEM_SHORTAGE;
    default: return OXMDL_ERR_RSS_IMAGE_SCALE;
  }
}

}  // namespace

unsigned long ImageCreater::fail(unsigned long code) {
  lastError_ = code;
  SetOxMiddleError(static_cast<unsigned>(code));
  return code;
}

bool ImageCreater::Create(const std::wstring& source, const std::wstring& target, int width, int height) {
  std::string bytes;
  unsigned code = oxm::readWholeFile(source, oxm::kMaxPictureBytes, &bytes);
  if (code != OXMDL_ERR_NONE) return fail(code) == OXMDL_ERR_NONE;
  oxm::Bitmap picture, scaled;
  oxm::ImagingResult result = oxm::decodeImage(bytes.data(), bytes.size(), &picture);
  if (result == oxm::ImagingResult::Ok) result = oxm::scaleImage(picture, width, height, &scaled);
  std::string jpeg;
  if (result == oxm::ImagingResult::Ok) result = oxm::encodeJpeg(scaled, kJpegQuality, &jpeg);
  if (result != oxm::ImagingResult::Ok) {
    oxm::NKDbgPrintfW(L"ImageCreater::Create() %hs\r\n", oxm::imagingResultName(result));
    return fail(libraryCode(result)) == OXMDL_ERR_NONE;
  }
  return fail(oxm::writeWholeFile(target, jpeg)) == OXMDL_ERR_NONE;
}
