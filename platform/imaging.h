// Pictures in memory: decoding JPEG (libjpeg-turbo), GIF (giflib, first frame) and PNG (libpng)
// recognised by their content, scaling into a 32-bit RGB bitmap of a given size, and encoding
// JPEG. Nothing here touches files; callers hand over and take back bytes.
//
// Memory is bounded: a picture whose header announces more than maxPicturePixels() pixels, or
// whose encoded form is larger than kMaxPictureBytes, is refused before any pixel buffer is
// allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oxm {

enum class ImageFormat { Unknown, Jpeg, Gif, Png };

enum class ImagingResult {
  Ok,
  NotPicture,   // the bytes are none of the three formats
  Damaged,      // a known format that is truncated or corrupt
  TooLarge,     // width x height (or the encoded size) is over the limit
  BadSize,      // a requested width or height below 1 or above the limit
  EncodeFailed, // the JPEG encoder refused
};
const char* imagingResultName(ImagingResult result);

// 4 Mi pixels: a 16 MiB bitmap, far more than any feed picture, far less than a 30000 x 30000 one.
inline constexpr uint64_t kMaxPicturePixels = 4u * 1024 * 1024;
// Encoded pictures larger than this are not read at all.
inline constexpr size_t kMaxPictureBytes = 8u * 1024 * 1024;

// Row-major pixels, 0x00RRGGBB each.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

ImageFormat sniffImage(const void* data, size_t size);
// Decodes a whole picture; *out is untouched on failure.
ImagingResult decodeImage(const void* data, size_t size, Bitmap* out);
// Scales `in` to exactly width x height (the aspect ratio is not kept): each target pixel is the
// mean of the source pixels it covers.
ImagingResult scaleImage(const Bitmap& in, int width, int height, Bitmap* out);
// Baseline JPEG of `in` at the given quality (1..100).
ImagingResult encodeJpeg(const Bitmap& in, int quality, std::string* out);

// The pixel limit in force; tests lower it (nullopt returns to kMaxPicturePixels).
uint64_t maxPicturePixels();
void setMaxPicturePixels(std::optional<uint64_t> pixels);

}  // namespace oxm
