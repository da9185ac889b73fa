#include "tests/support/pictures.h"

#include <csetjmp>
#include <cstdlib>
#include <stdexcept>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace oxm::test {

namespace {

struct Pattern {
  int width, height;
  uint32_t corner, rest;
  uint32_t at(int x, int y) const { return x < width / 2 && y < height / 2 ? corner : rest; }
  // The rows as R, G, B bytes.
  std::vector<unsigned char> rgb() const {
    std::vector<unsigned char> out;
    for (int i = 0; i < width * height; ++i) {
      const uint32_t c = at(i % width, i / width);
      out.insert(out.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    }
    return out;
  }
};

std::string makeJpeg(const Pattern& pic) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = pic.width, cinfo.image_height = pic.height;
  cinfo.input_components = 3, cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> pixels = pic.rgb();
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {&pixels[cinfo.next_scanline * pic.width * 3]};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string bytes(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

// Interlaced: the rows go out in four passes (every 8th from 0 and from 4, every 4th from 2, every 2nd from 1).
std::string makeGif(const Pattern& pic, bool interlaced) {
  std::string bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, [](GifFileType* g, const GifByteType* data, int n) {
    static_cast<std::string*>(g->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
  }, &error);
  const uint32_t rgb[2] = {pic.corner, pic.rest};
  GifColorType colours[2];
  for (int i = 0; i < 2; ++i) colours[i] = {GifByteType(rgb[i] >> 16), GifByteType(rgb[i] >> 8), GifByteType(rgb[i])};
  ColorMapObject* map = GifMakeMapObject(2, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, pic.width, pic.height, 1, 0, map);
  EGifPutImageDesc(gif, 0, 0, pic.width, pic.height, interlaced, nullptr);
  std::vector<GifPixelType> line(static_cast<size_t>(pic.width));
  const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  for (int pass = interlaced ? 0 : 3; pass < 4; ++pass) {
    for (int y = interlaced ? start[pass] : 0; y < pic.height; y += interlaced ? step[pass] : 1) {
      for (int x = 0; x < pic.width; ++x) line[x] = pic.at(x, y) == pic.corner ? 0 : 1;
      EGifPutLine(gif, line.data(), pic.width);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return bytes;
}

std::string makePng(const Pattern& pic) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = pic.width;
  image.height = pic.height;
  image.format = PNG_FORMAT_RGB;
  const std::vector<png_byte> pixels = pic.rgb();
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string bytes(size, '\0');
  png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr);
  bytes.resize(size);
  return bytes;
}

// Writes the low `bytes` bytes of v big-endian at `at`.
void putBig(std::string* s, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) (*s)[at + i] = char(v >> (8 * (bytes - 1 - i)));
}

struct JpegReadError {
  jpeg_error_mgr mgr;
  std::jmp_buf back;
};

// Reads into `out` behind a pointer, so that nothing libjpeg may jump over changes in this frame.
bool readJpegInto(const std::string& bytes, JpegPicture* out, std::vector<JSAMPLE>* row) {
  jpeg_decompress_struct cinfo;
  JpegReadError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegReadError*>(c->err)->back, 1); };
  err.mgr.output_message = [](j_common_ptr) {};
  if (setjmp(err.back)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out->width = cinfo.output_width;
  out->height = cinfo.output_height;
  out->pixels.resize(static_cast<size_t>(out->width) * out->height);
  row->resize(static_cast<size_t>(out->width) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    const size_t y = cinfo.output_scanline;
    JSAMPROW rows[1] = {row->data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
    const JSAMPLE* p = row->data();
    for (int x = 0; x < out->width; ++x)
      out->pixels[y * out->width + x] = (uint32_t(p[3 * x]) << 16) | (p[3 * x + 1] << 8) | p[3 * x + 2];
  }
  const bool whole = err.mgr.num_warnings == 0;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return whole;
}

}  // namespace

const char* pictureKindName(PictureKind kind) {
  static const char* const kNames[] = {"JPEG", "GIF", "interlaced GIF", "PNG"};
  return kNames[static_cast<int>(kind)];
}

std::string makePicture(PictureKind kind, int width, int height, uint32_t corner, uint32_t rest) {
  const Pattern pic{width, height, corner, rest};
  if (kind == PictureKind::Jpeg) return makeJpeg(pic);
  return kind == PictureKind::Png ? makePng(pic) : makeGif(pic, kind == PictureKind::GifInterlaced);
}

std::string withHeaderSize(PictureKind kind, std::string picture, int width, int height) {
  switch (kind) {
    case PictureKind::Jpeg: {
      // The baseline frame header: FF C0, length, precision, height, width.
      const size_t sof = picture.find("\xFF\xC0");
      if (sof == std::string::npos) throw std::runtime_error("no SOF0 marker");
      putBig(&picture, sof + 5, height, 2);
      putBig(&picture, sof + 7, width, 2);
      break;
    }
    case PictureKind::Gif:
    case PictureKind::GifInterlaced:
      // The logical screen: width and height, little-endian, after "GIF89a".
      picture[6] = char(width & 0xFF), picture[7] = char(width >> 8);
      picture[8] = char(height & 0xFF), picture[9] = char(height >> 8);
      break;
    case PictureKind::Png: {
      // IHDR is the first chunk: length at 8, type at 12, width at 16, height at 20, CRC at 29.
      putBig(&picture, 16, width, 4);
      putBig(&picture, 20, height, 4);
      const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(picture.data() + 12), 17);
      putBig(&picture, 29, static_cast<uint32_t>(crc), 4);
      break;
    }
  }
  return picture;
}

bool readJpeg(const std::string& bytes, JpegPicture* out) {
  std::vector<JSAMPLE> row;
  return readJpegInto(bytes, out, &row);
}

bool nearColour(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {16, 8, 0})
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  return true;
}

}  // namespace oxm::test
