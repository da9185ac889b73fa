// The default today picture: a small landscape drawn here, so that the display has a picture
// before any feed brought one.
#include <cmath>

#include "codec/report.h"
#include "feeds/rss_today.h"
#include "feeds/scratch_file.h"
#include "frame/oxerror.h"
#include "platform/imaging.h"

namespace {

// Four times the large display copy (104 x 78), so that both copies scale down evenly.
constexpr int kWidth = 208;
constexpr int kHeight = 156;

uint32_t mix(uint32_t a, uint32_t b, double t) {
  auto channel = [&](int shift) {
    const double x = ((a >> shift) & 0xFF) * (1 - t) + ((b >> shift) & 0xFF) * t;
    return static_cast<uint32_t>(std::lround(x)) << shift;
  };
  return channel(16) | channel(8) | channel(0);
}

// A sky from deep to pale blue, a sun, and a green hill line.
oxm::Bitmap drawLandscape() {
  oxm::Bitmap picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.pixels.resize(static_cast<size_t>(kWidth) * kHeight);
  const double sunX = kWidth * 0.72, sunY = kHeight * 0.3, sunR = kHeight * 0.13;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint32_t c = mix(0x1E5AA8, 0xBFE3F5, double(y) / kHeight);
      if (std::hypot(x - sunX, y - sunY) <= sunR) c = 0xFFD23C;
      const double hill = kHeight * (0.68 + 0.08 * std::sin(x * 6.2832 / kWidth * 1.5));
      if (y >= hill) c = mix(0x4C9A2A, 0x2E6B1A, (y - hill) / (kHeight - hill + 1));
      picture.pixels[static_cast<size_t>(y) * kWidth + x] = c;
    }
  }
  return picture;
}

}  // namespace

bool MakeDefaultTodayPicture() {
  std::string jpeg;
  if (oxm::encodeJpeg(drawLandscape(), 90, &jpeg) != oxm::ImagingResult::Ok) {
    return oxm::reportCode(OXMDL_ERR_RSS_IMAGE_SCALE);
  }
  return oxm::reportCode(oxm::writeWholeFile(kDefaultTodayPicture, jpeg));
}
