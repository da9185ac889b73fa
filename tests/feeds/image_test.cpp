// ImageCreater: each format scaled; bad pictures and failed writes leave the old target alone.
#include <filesystem>
#include <optional>
#include <set>

#include "feeds/image_creater.h"
#include "frame/oxerror.h"
#include "platform/fault.h"
#include "platform/imaging.h"
#include "tests/support/pictures.h"
#include "tests/support/testroot.h"

namespace oxm::test {
namespace {

constexpr uint32_t kRed = 0xE01010;
constexpr uint32_t kBlue = 0x1020E0;
const std::wstring kSource = L"Application Data/Rivulet/Tmp/source";
const std::wstring kTarget = L"Application Data/Rivulet/Tmp/image_small.jpg";

class ImageTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    std::filesystem::create_directories(scratch());
  }
  std::string scratch() const { return root_.host("Application Data/Rivulet/Tmp"); }
  std::set<std::string> scratchNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch())) names.insert(entry.path().filename());
    return names;
  }
};

// Red top-left quarter, blue elsewhere: a swapped channel, mirrored scale or row order shows.
TEST_F(ImageTest, ScalesEachFormat) {
  const struct { PictureKind kind; int width, height; } cases[] = {
      {PictureKind::Jpeg, 48, 36}, {PictureKind::Gif, 104, 78}, {PictureKind::GifInterlaced, 48, 36},
      {PictureKind::Png, 104, 78}};
  for (const auto& c : cases) {
    SCOPED_TRACE(pictureKindName(c.kind));
    writeHostFile(scratch() + "/source", makePicture(c.kind, 160, 120, kRed, kBlue));
    ImageCreater creater;
    ASSERT_TRUE(creater.Create(kSource, kTarget, c.width, c.height)) << std::hex << creater.lastError();
    EXPECT_EQ(creater.lastError(), OXMDL_ERR_NONE);
    JpegPicture out;
    ASSERT_TRUE(readJpeg(readHostFile(scratch() + "/image_small.jpg"), &out));
    EXPECT_EQ(std::make_pair(out.width, out.height), std::make_pair(c.width, c.height));
    const int right = c.width - 3, bottom = c.height - 3;
    EXPECT_TRUE(nearColour(out.at(2, 2), kRed) && nearColour(out.at(right, 2), kBlue) &&
                nearColour(out.at(2, bottom), kBlue));
    EXPECT_EQ(scratchNames(), (std::set<std::string>{"source", "image_small.jpg"}));
  }
}

// Bad pictures (and the imaging result behind the code) and failed steps of a good one.
TEST_F(ImageTest, FailuresLeaveTheOldTarget) {
  const std::string png = makePicture(PictureKind::Png, 64, 48, kRed, kBlue);
  const fault::Op kNone = fault::Op::Count;
  // bytes: of the source file (none: no source); result: what decoding them gives (none: not decoded).
  struct Case { std::string name; std::optional<std::string> bytes; unsigned code; std::optional<ImagingResult> result;
                int width; fault::Op op; int nth; };
  std::vector<Case> cases = {
      {"text", "<html>not a picture</html>", OXMDL_ERR_RSS_IMAGE_SCALE, ImagingResult::NotPicture, 48, kNone, 0},
      {"magic only (GIF87a)", "GIF87a", OXMDL_ERR_RSS_IMAGE_SCALE, ImagingResult::Damaged, 48, kNone, 0},
      {"file at the byte limit", std::string(kMaxPictureBytes, 'x'), OXMDL_ERR_RSS_IMAGE_SCALE,
       ImagingResult::NotPicture, 48, kNone, 0},
      {"file over the byte limit", std::string(kMaxPictureBytes + 1, 'x'), OXMDL_ERR_MEM_SHORTAGE,
       ImagingResult::TooLarge, 48, kNone, 0},
      {"no source", std::nullopt, OXMDL_ERR_FILE_OPEN, std::nullopt, 48, kNone, 0},
      {"zero width", png, OXMDL_ERR_RSS_IMAGE_SCALE, std::nullopt, 0, kNone, 0},
      {"target open", png, OXMDL_ERR_FILE_OPEN, std::nullopt, 48, fault::Op::Open, 2},
      {"short write", png, OXMDL_ERR_FILE_DISK_FULL, std::nullopt, 48, fault::Op::Write, 1},
      {"rename", png, OXMDL_ERR_FILE_OPEN, std::nullopt, 48, fault::Op::Rename, 1},
  };
  for (PictureKind kind : {PictureKind::Jpeg, PictureKind::Gif, PictureKind::GifInterlaced, PictureKind::Png}) {
    const std::string good = makePicture(kind, 64, 48, kRed, kBlue);
    const std::string name = pictureKindName(kind);
    for (size_t keep : {size_t{30}, good.size() - 20})
      cases.push_back({name + " cut at " + std::to_string(keep), good.substr(0, keep), OXMDL_ERR_RSS_IMAGE_SCALE,
                       ImagingResult::Damaged, 48, kNone, 0});
    cases.push_back({name + " 30000 x 30000", withHeaderSize(kind, good, 30000, 30000), OXMDL_ERR_MEM_SHORTAGE,
                     ImagingResult::TooLarge, 48, kNone, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bitmap bitmap;
    EXPECT_TRUE(!c.result || decodeImage(c.bytes->data(), c.bytes->size(), &bitmap) == *c.result);
    EXPECT_TRUE(bitmap.pixels.empty());
    std::filesystem::remove(scratch() + "/source");
    if (c.bytes) writeHostFile(scratch() + "/source", *c.bytes);
    writeHostFile(scratch() + "/image_small.jpg", "old");
    if (c.op != kNone) fault::failNth(c.op, c.nth, 5, -1);
    ImageCreater creater;
    EXPECT_FALSE(creater.Create(kSource, kTarget, c.width, 36));
    fault::reset();
    EXPECT_EQ(creater.lastError(), c.code) << std::hex << creater.lastError();
    EXPECT_EQ(GetOxMiddleError(), c.code);
    EXPECT_EQ(readHostFile(scratch() + "/image_small.jpg"), "old");
    EXPECT_EQ(scratchNames(), (c.bytes ? std::set<std::string>{"image_small.jpg", "source"}
                                       : std::set<std::string>{"image_small.jpg"}));
  }
  // The pixel limit: width x height at the limit decodes, one pixel over it does not.
  Bitmap bitmap;
  setMaxPicturePixels(64 * 48);
  EXPECT_EQ(decodeImage(png.data(), png.size(), &bitmap), ImagingResult::Ok);
  setMaxPicturePixels(64 * 48 - 1);
  EXPECT_EQ(decodeImage(png.data(), png.size(), &bitmap), ImagingResult::TooLarge);
  setMaxPicturePixels(std::nullopt);
}

}  // namespace
}  // namespace oxm::test
