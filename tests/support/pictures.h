// Pictures made and read with libjpeg, giflib and libpng, never with the library's imaging code:
// width x height, the top left quarter one colour and the rest another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oxm::test {

enum class PictureKind { Jpeg, Gif, GifInterlaced, Png };
const char* pictureKindName(PictureKind kind);

// Colours are 0xRRGGBB.
std::string makePicture(PictureKind kind, int width, int height, uint32_t corner, uint32_t rest);
// The same bytes with only the size in the header changed (JPEG frame, GIF screen, PNG IHDR + CRC).
std::string withHeaderSize(PictureKind kind, std::string picture, int width, int height);

struct JpegPicture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, row-major
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
// Decodes a JPEG; false when the bytes are not a whole JPEG.
bool readJpeg(const std::string& bytes, JpegPicture* out);
// Whether two colours are within `tolerance` in every channel (JPEG is lossy).
bool nearColour(uint32_t a, uint32_t b, int tolerance = 40);

}  // namespace oxm::test
