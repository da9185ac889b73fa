// ImageCreater: JPEG, GIF and PNG scaled to the two display sizes; pictures that are not
// pictures, damaged or too large, and failed writes, leave the target as it was and nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "feeds/image_creater.h"
#include "feeds/rss_today.h"
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
const PictureKind kKinds[] = {PictureKind::Jpeg, PictureKind::Gif, PictureKind::GifInterlaced, PictureKind::Png};

class ImageTest : public RootTest {
 protected:
  void SetUp() override {
    RootTest::SetUp();
    std::filesystem::create_directories(scratch());
  }
  std::string scratch() const { return root_.host("Application Data/Rivulet/Tmp"); }
  void putSource(const std::string& bytes) { writeHostFile(scratch() + "/source", bytes); }
  std::string target() const { return readHostFile(scratch() + "/image_small.jpg"); }
  std::set<std::string> scratchNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch())) names.insert(entry.path().filename());
    return names;
  }
};

// Every format at both display sizes: a JPEG of exactly that size, red in the top left quarter
// and blue elsewhere (so that a swapped channel, a mirrored scale or interlaced rows out of order
// show), and no file but the two.
TEST_F(ImageTest, ScalesEachFormatToBothDisplaySizes) {
  const struct { int width, height; } sizes[] = {{48, 36}, {104, 78}};
  for (PictureKind kind : kKinds) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(pictureKindName(kind)) + " " + std::to_string(size.width));
      putSource(makePicture(kind, 160, 120, kRed, kBlue));
      ImageCreater creater;
      ASSERT_TRUE(creater.Create(kSource, kTarget, size.width, size.height)) << std::hex << creater.lastError();
      EXPECT_EQ(creater.lastError(), OXMDL_ERR_NONE);
      JpegPicture out;
      ASSERT_TRUE(readJpeg(target(), &out));
      EXPECT_EQ(out.width, size.width);
      EXPECT_EQ(out.height, size.height);
      const int right = size.width - 3, bottom = size.height - 3;
      EXPECT_TRUE(nearColour(out.at(2, 2), kRed)) << std::hex << out.at(2, 2);
      EXPECT_TRUE(nearColour(out.at(right, 2), kBlue)) << std::hex << out.at(right, 2);
      EXPECT_TRUE(nearColour(out.at(2, bottom), kBlue)) << std::hex << out.at(2, bottom);
      EXPECT_EQ(scratchNames(), (std::set<std::string>{"source", "image_small.jpg"}));
    }
  }
}

// Bad pictures: the library code, the imaging result behind it, the old target untouched and
// nothing left in the scratch folder.
TEST_F(ImageTest, BadPicturesFailCleanly) {
  struct Case { std::string name; std::string bytes; unsigned code; ImagingResult result; };
  std::vector<Case> cases = {
      {"text", "<html>not a picture</html>", OXMDL_ERR_RSS_IMAGE_SCALE, ImagingResult::NotPicture},
      {"empty", "", OXMDL_ERR_RSS_IMAGE_SCALE, ImagingResult::NotPicture},
      {"magic only", "GIF89a", OXMDL_ERR_RSS_IMAGE_SCALE, ImagingResult::Damaged},
      {"file at the byte limit", std::string(kMaxPictureBytes, 'x'), OXMDL_ERR_RSS_IMAGE_SCALE,
       ImagingResult::NotPicture},
      {"file over the byte limit", std::string(kMaxPictureBytes + 1, 'x'), OXMDL_ERR_MEM_SHORTAGE,
       ImagingResult::TooLarge},
  };
  for (PictureKind kind : kKinds) {
    const std::string good = makePicture(kind, 64, 48, kRed, kBlue);
    const std::string name = pictureKindName(kind);
    for (size_t keep : {size_t{30}, good.size() - 20}) {
      cases.push_back({name + " cut at " + std::to_string(keep), good.substr(0, keep), OXMDL_ERR_RSS_IMAGE_SCALE,
                       ImagingResult::Damaged});
    }
    cases.push_back({name + " 30000 x 30000", withHeaderSize(kind, good, 30000, 30000), OXMDL_ERR_MEM_SHORTAGE,
                     ImagingResult::TooLarge});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bitmap bitmap;
    EXPECT_STREQ(imagingResultName(decodeImage(c.bytes.data(), c.bytes.size(), &bitmap)), imagingResultName(c.result));
    EXPECT_TRUE(bitmap.pixels.empty());
    writeHostFile(scratch() + "/image_small.jpg", "old");
    putSource(c.bytes);
    ImageCreater creater;
    EXPECT_FALSE(creater.Create(kSource, kTarget, 48, 36));
    EXPECT_EQ(creater.lastError(), c.code) << std::hex << creater.lastError();
    EXPECT_EQ(GetOxMiddleError(), c.code);
    EXPECT_EQ(target(), "old");
    EXPECT_EQ(scratchNames(), (std::set<std::string>{"source", "image_small.jpg"}));
  }
  // The limit itself: width x height at the limit decodes, one pixel over it does not.
  for (PictureKind kind : kKinds) {
    SCOPED_TRACE(pictureKindName(kind));
    const std::string good = makePicture(kind, 64, 48, kRed, kBlue);
    Bitmap bitmap;
    setMaxPicturePixels(64 * 48);
    EXPECT_EQ(decodeImage(good.data(), good.size(), &bitmap), ImagingResult::Ok);
    setMaxPicturePixels(64 * 48 - 1);
    EXPECT_EQ(decodeImage(good.data(), good.size(), &bitmap), ImagingResult::TooLarge);
    setMaxPicturePixels(std::nullopt);
  }
}

// A good picture whose conversion fails on the way: no source, a size below 1 x 1, the target
// not created, a short write, the rename refused.
TEST_F(ImageTest, FailuresOnTheWayLeaveTheOldTarget) {
  const struct { const char* name; bool source; int width; fault::Op op; int nth; unsigned code; } cases[] = {
      {"no source", false, 48, fault::Op::Count, 0, OXMDL_ERR_FILE_OPEN},
      {"zero width", true, 0, fault::Op::Count, 0, OXMDL_ERR_RSS_IMAGE_SCALE},
      {"target open", true, 48, fault::Op::Open, 2, OXMDL_ERR_FILE_OPEN},
      {"short write", true, 48, fault::Op::Write, 1, OXMDL_ERR_FILE_DISK_FULL},
      {"rename", true, 48, fault::Op::Rename, 1, OXMDL_ERR_FILE_OPEN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(scratch() + "/source");
    if (c.source) putSource(makePicture(PictureKind::Png, 64, 48, kRed, kBlue));
    writeHostFile(scratch() + "/image_small.jpg", "old");
    fault::reset();
    if (c.op != fault::Op::Count) fault::failNth(c.op, c.nth, 5, -1);
    ImageCreater creater;
    EXPECT_FALSE(creater.Create(kSource, kTarget, c.width, 36));
    fault::reset();
    EXPECT_EQ(creater.lastError(), c.code) << std::hex << creater.lastError();
    EXPECT_EQ(target(), "old");
    std::set<std::string> expected{"image_small.jpg"};
    if (c.source) expected.insert("source");
    EXPECT_EQ(scratchNames(), expected);
  }
}

// The default picture is a whole JPEG under the root, and the weather fallback makes the
// default display copies from it.
TEST_F(ImageTest, DefaultPictureAndItsDisplayCopies) {
  ASSERT_TRUE(MakeDefaultTodayPicture());
  JpegPicture tidal;
  ASSERT_TRUE(readJpeg(readHostFile(root_.host("Windows/TIDAL.jpg")), &tidal));
  EXPECT_EQ(tidal.width, 208);
  EXPECT_EQ(tidal.height, 156);
  const struct {
    bool small;
    const char* name;
    int width, height;
  } copies[] = {{true, "default_small.jpg", 48, 36}, {false, "default_large.jpg", 104, 78}};
  for (const auto& c : copies) {
    std::wstring path;
    ASSERT_TRUE(RssGetWeatherImage(&path, c.small));
    EXPECT_EQ(path, L"Application Data/Rivulet/Tmp/" + std::wstring(c.name, c.name + std::strlen(c.name)));
    JpegPicture copy;
    ASSERT_TRUE(readJpeg(readHostFile(scratch() + "/" + c.name), &copy));
    EXPECT_EQ(copy.width, c.width);
    EXPECT_EQ(copy.height, c.height);
  }
}

}  // namespace
}  // namespace oxm::test
