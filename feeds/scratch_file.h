// Whole-file reads and writes of the feed side's pictures.
#pragma once

#include <cstddef>
#include <string>

namespace oxm {

// Reads the whole file. OXMDL_ERR_FILE_OPEN when it cannot be opened or read,
// OXMDL_ERR_MEM_SHORTAGE when it is longer than `cap` (nothing is read then).
unsigned readWholeFile(const std::wstring& path, size_t cap, std::string* out);
// Writes `bytes` as the whole file: into path + "_tmp", flushed, then renamed over `path` in one
// step, so that `path` is the old file or the new one, never a part. The folder is made when
// missing. OXMDL_ERR_FILE_OPEN when the file cannot be created, OXMDL_ERR_FILE_DISK_FULL for a
// short write; no "_tmp" file stays behind on failure.
unsigned writeWholeFile(const std::wstring& path, const std::string& bytes);

}  // namespace oxm
