#include "platform/imaging.h"

namespace oxm {

// Not written yet.
const char* imagingResultName(ImagingResult) { return "?"; }
ImageFormat sniffImage(const void*, size_t) { return ImageFormat::Unknown; }
ImagingResult decodeImage(const void*, size_t, Bitmap*) { return ImagingResult::NotPicture; }
ImagingResult scaleImage(const Bitmap&, int, int, Bitmap*) { return ImagingResult::BadSize; }
ImagingResult encodeJpeg(const Bitmap&, int, std::string*) { return ImagingResult::EncodeFailed; }
uint64_t maxPicturePixels() { return kMaxPicturePixels; }
void setMaxPicturePixels(std::optional<uint64_t>) {}

}  // namespace oxm
