// ImageCreater converts a picture file (JPEG, GIF or PNG, recognised by content) into a JPEG of
// a given size, for the feed's small and large display copies.
//
// Paths are device paths ("Application Data/Rivulet/Tmp/image.jpg"). The target is written
// through a temporary file and renamed into place, so it is either the whole new picture or
// left as it was; a failed conversion leaves no file behind.
#pragma once

#include <string>

class ImageCreater {
 public:
  // Reads `source`, scales it to width x height and writes it as JPEG to `target`.
  // Errors (lastError(), also set as the library's last error):
  //   OXMDL_ERR_FILE_OPEN       the source cannot be read, or the target cannot be created;
  //   OXMDL_ERR_MEM_SHORTAGE    the picture is larger than the pixel or byte limit (platform/
  //                             imaging.h), refused before its pixels are allocated;
  //   OXMDL_ERR_RSS_IMAGE_SCALE the source is not a picture, is damaged, or the size is not
  //                             at least 1 x 1;
  //   OXMDL_ERR_FILE_DISK_FULL  a short write.
  bool Create(const std::wstring& source, const std::wstring& target, int width, int height);
  unsigned long lastError() const { return lastError_; }

 private:
  unsigned long fail(unsigned long code);
  unsigned long lastError_ = 0x02000000;
};
