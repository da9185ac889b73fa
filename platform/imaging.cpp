#include "platform/imaging.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

namespace oxm {

namespace {

std::mutex limitLock;
std::optional<uint64_t> pixelLimit;

bool withinLimit(uint64_t width, uint64_t height) {
  return width >= 1 && height >= 1 && width * height <= maxPicturePixels();
}

uint32_t rgb(unsigned r, unsigned g, unsigned b) { return (r << 16) | (g << 8) | b; }

// ---- JPEG ----

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to the
// call that set `back`. A truncated stream is only a warning to libjpeg (it pads with grey);
// here it counts as damage.
struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf back;
  bool truncated = false;
};

void jpegErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->back, 1); }

void jpegMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  if (level < 0 && err->mgr.msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

void initJpegError(JpegError* err) {
  jpeg_std_error(&err->mgr);
  err->mgr.error_exit = jpegErrorExit;
  err->mgr.emit_message = jpegMessage;
  err->mgr.output_message = [](j_common_ptr) {};
}

// Adobe writes CMYK inverted; this is how every decoder shows such pictures.
uint32_t fromCmyk(const JSAMPLE* p) {
  unsigned k = p[3];
  return rgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
}

// Everything that changes while libjpeg may jump back lives in the caller's frame, behind
// pointers that stay put.
struct JpegDecodeState {
  Bitmap bitmap;
  std::vector<JSAMPLE> row;
};

ImagingResult decodeJpegInto(const void* data, size_t size, JpegDecodeState* st) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  initJpegError(&err);
  cinfo.err = &err.mgr;
  if (setjmp(err.back)) {
    jpeg_destroy_decompress(&cinfo);
    return ImagingResult::Damaged;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, static_cast<const unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (!withinLimit(cinfo.image_width, cinfo.image_height)) {
    jpeg_destroy_decompress(&cinfo);
    return ImagingResult::TooLarge;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Bitmap& bitmap = st->bitmap;
  bitmap.width = static_cast<int>(cinfo.output_width);
  bitmap.height = static_cast<int>(cinfo.output_height);
  bitmap.pixels.resize(static_cast<size_t>(bitmap.width) * bitmap.height);
  st->row.resize(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height && !err.truncated) {
    JSAMPROW rows[1] = {st->row.data()};
    uint32_t* dst = &bitmap.pixels[static_cast<size_t>(cinfo.output_scanline) * bitmap.width];
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (int x = 0; x < bitmap.width; ++x) {
      const JSAMPLE* p = &st->row[static_cast<size_t>(x) * cinfo.output_components];
      dst[x] = cmyk ? fromCmyk(p) : rgb(p[0], p[1], p[2]);
    }
  }
  const bool truncated = err.truncated;
  if (!truncated) jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return truncated ? ImagingResult::Damaged : ImagingResult::Ok;
}

ImagingResult decodeJpeg(const void* data, size_t size, Bitmap* out) {
  JpegDecodeState st;
  ImagingResult r = decodeJpegInto(data, size, &st);
  if (r == ImagingResult::Ok) *out = std::move(st.bitmap);
  return r;
}

// ---- GIF (the first frame, drawn on a white screen) ----

struct GifSource {
  const unsigned char* data;
  size_t size;
  size_t at = 0;
};

int gifRead(GifFileType* gif, GifByteType* buf, int n) {
  auto* src = static_cast<GifSource*>(gif->UserData);
  size_t take = std::min(static_cast<size_t>(n), src->size - src->at);
  std::memcpy(buf, src->data + src->at, take);
  src->at += take;
  return static_cast<int>(take);
}

struct GifCloser {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

ImagingResult drawGifFrame(GifFileType* gif, int transparent, Bitmap* screen) {
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!map || desc.Width < 1 || desc.Height < 1 || !withinLimit(desc.Width, desc.Height)) {
    return desc.Width > 0 && desc.Height > 0 && !withinLimit(desc.Width, desc.Height) ? ImagingResult::TooLarge
                                                                                       : ImagingResult::Damaged;
  }
  // Interlaced frames come in four passes: every 8th row from 0, every 8th from 4, every 4th
  // from 2, every 2nd from 1.
  static const int kStart[] = {0, 4, 2, 1};
  static const int kStep[] = {8, 8, 4, 2};
  std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
  for (int pass = desc.Interlace ? 0 : 3; pass < 4; ++pass) {
    const int start = desc.Interlace ? kStart[pass] : 0;
    const int step = desc.Interlace ? kStep[pass] : 1;
    for (int y = start; y < desc.Height; y += step) {
      if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return ImagingResult::Damaged;
      const int sy = desc.Top + y;
      if (sy < 0 || sy >= screen->height) continue;
      for (int x = 0; x < desc.Width; ++x) {
        const int sx = desc.Left + x;
        if (sx < 0 || sx >= screen->width || line[x] == transparent || line[x] >= map->ColorCount) continue;
        const GifColorType& c = map->Colors[line[x]];
        screen->pixels[static_cast<size_t>(sy) * screen->width + sx] = rgb(c.Red, c.Green, c.Blue);
      }
    }
  }
  return ImagingResult::Ok;
}

ImagingResult decodeGif(const void* data, size_t size, Bitmap* out) {
  GifSource src{static_cast<const unsigned char*>(data), size};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, gifRead, &error));
  if (!gif) return ImagingResult::Damaged;
  if (!withinLimit(gif->SWidth, gif->SHeight)) {
    return gif->SWidth > 0 && gif->SHeight > 0 ? ImagingResult::TooLarge : ImagingResult::Damaged;
  }
  Bitmap screen;
  screen.width = gif->SWidth;
  screen.height = gif->SHeight;
  screen.pixels.assign(static_cast<size_t>(screen.width) * screen.height, rgb(255, 255, 255));
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) return ImagingResult::Damaged;
    if (type == TERMINATE_RECORD_TYPE) return ImagingResult::Damaged;  // no frame at all
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif.get()) != GIF_OK) return ImagingResult::Damaged;
      ImagingResult r = drawGifFrame(gif.get(), transparent, &screen);
      if (r != ImagingResult::Ok) return r;
      *out = std::move(screen);
      return ImagingResult::Ok;
    }
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif.get(), &code, &ext) != GIF_OK) return ImagingResult::Damaged;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif.get(), &ext) != GIF_OK) return ImagingResult::Damaged;
      }
    }
  }
}

// ---- PNG (libpng's simplified interface; transparency is laid on white) ----

ImagingResult decodePng(const void* data, size_t size, Bitmap* out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return ImagingResult::Damaged;
  if (!withinLimit(image.width, image.height)) {
    png_image_free(&image);
    return ImagingResult::TooLarge;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rows(PNG_IMAGE_SIZE(image));
  const png_color white = {255, 255, 255};
  if (!png_image_finish_read(&image, &white, rows.data(), 0, nullptr)) {
    png_image_free(&image);
    return ImagingResult::Damaged;
  }
  Bitmap bitmap;
  bitmap.width = static_cast<int>(image.width);
  bitmap.height = static_cast<int>(image.height);
  bitmap.pixels.resize(static_cast<size_t>(bitmap.width) * bitmap.height);
  for (size_t i = 0; i < bitmap.pixels.size(); ++i) bitmap.pixels[i] = rgb(rows[3 * i], rows[3 * i + 1], rows[3 * i + 2]);
  *out = std::move(bitmap);
  return ImagingResult::Ok;
}

}  // namespace

const char* imagingResultName(ImagingResult result) {
  switch (result) {
    case ImagingResult::Ok: return "Ok";
    case ImagingResult::NotPicture: return "NotPicture";
    case ImagingResult::Damaged: return "Damaged";
    case ImagingResult::TooLarge: return "TooLarge";
    case ImagingResult::BadSize: return "BadSize";
    case ImagingResult::EncodeFailed: return "EncodeFailed";
  }
  return "?";
}

uint64_t maxPicturePixels() {
  std::lock_guard<std::mutex> hold(limitLock);
  return pixelLimit.value_or(kMaxPicturePixels);
}

void setMaxPicturePixels(std::optional<uint64_t> pixels) {
  std::lock_guard<std::mutex> hold(limitLock);
  pixelLimit = pixels;
}

ImageFormat sniffImage(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (size >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return ImageFormat::Jpeg;
  if (size >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) return ImageFormat::Png;
  if (size >= 6 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) return ImageFormat::Gif;
  return ImageFormat::Unknown;
}

ImagingResult decodeImage(const void* data, size_t size, Bitmap* out) {
  if (size > kMaxPictureBytes) return ImagingResult::TooLarge;
  switch (sniffImage(data, size)) {
    case ImageFormat::Jpeg: return decodeJpeg(data, size, out);
    case ImageFormat::Gif: return decodeGif(data, size, out);
    case ImageFormat::Png: return decodePng(data, size, out);
    case ImageFormat::Unknown: break;
  }
  return ImagingResult::NotPicture;
}

ImagingResult scaleImage(const Bitmap& in, int width, int height, Bitmap* out) {
  if (width < 1 || height < 1 || !withinLimit(width, height)) return ImagingResult::BadSize;
  if (in.width < 1 || in.height < 1 || in.pixels.size() != static_cast<size_t>(in.width) * in.height) {
    return ImagingResult::Damaged;
  }
  Bitmap scaled;
  scaled.width = width;
  scaled.height = height;
  scaled.pixels.resize(static_cast<size_t>(width) * height);
  // The source span [a, b) of target cell i of n over a length of len; never empty.
  auto span = [](int i, int n, int len, int* a, int* b) {
    *a = static_cast<int>(int64_t{i} * len / n);
    *b = std::max(*a + 1, static_cast<int>(int64_t{i + 1} * len / n));
  };
  for (int ty = 0; ty < height; ++ty) {
    int y0, y1;
    span(ty, height, in.height, &y0, &y1);
    for (int tx = 0; tx < width; ++tx) {
      int x0, x1;
      span(tx, width, in.width, &x0, &x1);
      uint64_t r = 0, g = 0, b = 0;
      for (int y = y0; y < y1; ++y) {
        const uint32_t* row = &in.pixels[static_cast<size_t>(y) * in.width];
        for (int x = x0; x < x1; ++x) {
          r += (row[x] >> 16) & 0xFF;
          g += (row[x] >> 8) & 0xFF;
          b += row[x] & 0xFF;
        }
      }
      const uint64_t n = uint64_t(y1 - y0) * uint64_t(x1 - x0);
      scaled.pixels[static_cast<size_t>(ty) * width + tx] =
          rgb(unsigned((r + n / 2) / n), unsigned((g + n / 2) / n), unsigned((b + n / 2) / n));
    }
  }
  *out = std::move(scaled);
  return ImagingResult::Ok;
}

namespace {

// The compressed bytes go straight into a string, grown in steps of kJpegStep bytes.
constexpr size_t kJpegStep = 4096;

struct JpegEncodeState {
  jpeg_destination_mgr dest;
  std::string bytes;
  std::vector<JSAMPLE> row;
};

void jpegInitDest(j_compress_ptr cinfo) {
  auto* st = static_cast<JpegEncodeState*>(cinfo->client_data);
  st->bytes.resize(kJpegStep);
  st->dest.next_output_byte = reinterpret_cast<JOCTET*>(st->bytes.data());
  st->dest.free_in_buffer = st->bytes.size();
}

boolean jpegGrowDest(j_compress_ptr cinfo) {
  auto* st = static_cast<JpegEncodeState*>(cinfo->client_data);
  const size_t used = st->bytes.size();
  st->bytes.resize(used + kJpegStep);
  st->dest.next_output_byte = reinterpret_cast<JOCTET*>(st->bytes.data()) + used;
  st->dest.free_in_buffer = kJpegStep;
  return TRUE;
}

void jpegTermDest(j_compress_ptr cinfo) {
  auto* st = static_cast<JpegEncodeState*>(cinfo->client_data);
  st->bytes.resize(st->bytes.size() - st->dest.free_in_buffer);
}

ImagingResult encodeJpegInto(const Bitmap& in, int quality, JpegEncodeState* st) {
  jpeg_compress_struct cinfo;
  JpegError err;
  initJpegError(&err);
  cinfo.err = &err.mgr;
  if (setjmp(err.back)) {
    jpeg_destroy_compress(&cinfo);
    return ImagingResult::EncodeFailed;
  }
  jpeg_create_compress(&cinfo);
  st->dest.init_destination = jpegInitDest;
  st->dest.empty_output_buffer = jpegGrowDest;
  st->dest.term_destination = jpegTermDest;
  cinfo.dest = &st->dest;
  cinfo.client_data = st;
  cinfo.image_width = static_cast<JDIMENSION>(in.width);
  cinfo.image_height = static_cast<JDIMENSION>(in.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  st->row.resize(static_cast<size_t>(in.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint32_t* src = &in.pixels[static_cast<size_t>(cinfo.next_scanline) * in.width];
    for (int x = 0; x < in.width; ++x) {
      st->row[3 * x] = static_cast<JSAMPLE>(src[x] >> 16);
      st->row[3 * x + 1] = static_cast<JSAMPLE>(src[x] >> 8);
      st->row[3 * x + 2] = static_cast<JSAMPLE>(src[x]);
    }
    JSAMPROW rows[1] = {st->row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return ImagingResult::Ok;
}

}  // namespace

ImagingResult encodeJpeg(const Bitmap& in, int quality, std::string* out) {
  if (in.width < 1 || in.height < 1 || in.pixels.size() != static_cast<size_t>(in.width) * in.height) {
    return ImagingResult::BadSize;
  }
  JpegEncodeState st;
  ImagingResult r = encodeJpegInto(in, quality, &st);
  if (r == ImagingResult::Ok) *out = std::move(st.bytes);
  return r;
}

}  // namespace oxm
