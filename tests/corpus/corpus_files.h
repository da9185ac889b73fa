// The real-world messages of the shared test data (../shared/testdata/mail beside the source
// tree, or OXMIDDLE_TESTDATA), for the corpus tests and the benchmarks, and a received message
// made ready to be encoded again.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/charset.h"
#include "codec/emlcompose.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace oxm::test {

inline std::string testdataDirectory() {
  if (const char* env = std::getenv("OXMIDDLE_TESTDATA"); env && *env) return env;
  return OXM_DEFAULT_TESTDATA;
}

// Every file under mail/ except the notes about where they came from, sorted; empty when the
// test data is not there.
inline std::vector<std::string> corpusMessages() {
  std::vector<std::string> files;
  const std::filesystem::path dir = std::filesystem::path(testdataDirectory()) / "mail";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec))
    if (entry.is_regular_file() && !entry.path().string().ends_with(".md")) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline std::string utf8(const std::wstring& w) { return wideToUtf8(w); }

// The corpus programs' arguments "[--codepage N] OUTDIR FILE...": N made the device's code page,
// OUTDIR/root the device root, argv left at the first FILE. OUTDIR, or empty after the usage.
inline std::filesystem::path takeOutputArguments(int& argc, char**& argv, const char* usage) {
  if (argc > 2 && std::string(argv[1]) == "--codepage") {
    setActiveCodePage(static_cast<UINT>(std::stoul(argv[2])));
    argv += 2;
    argc -= 2;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--codepage 932|65001] OUTDIR FILE...\n", usage);
    return {};
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  std::filesystem::create_directories(out / "root");
  setRootDirectory((out / "root").string());
  argv += 2;
  argc -= 2;
  return out;
}

struct Reencodable {
  Email mail;                           // as decoded, parts pointed at their files
  std::vector<std::wstring> partFiles;  // device paths of the written parts, enclosures first
  size_t unwritable = 0;                // parts GetEnclosure could not write, left out of the record
};

// False when raw does not decode. `dir` must not exist yet.
inline bool prepareReencoding(const std::string& raw, const std::wstring& dir, Reencodable* out) {
  EmlCompose codec;
  if (!codec.Decode(&out->mail, &raw)) return false;
  CreateDirectoryW(dir);
  size_t n = 0;
  for (std::list<Enclosure>* parts : {&out->mail.enclosures, &out->mail.relatedFiles}) {
    for (auto it = parts->begin(); it != parts->end();) {
      // One folder per part: parts of one message may share a name.
      const std::wstring folder = dir + L"\\" + std::to_wstring(n++);
      CreateDirectoryW(folder);
      Enclosure part = *it;
      part.folder = folder;
      part.name = part.displayName;
      // A name too long for a path is cut by GetEnclosure: such a part has no file to encode.
      if (!codec.GetEnclosure(raw, part) || GetFileAttributesW(folder + L"\\" + part.name) == INVALID_FILE_ATTRIBUTES) {
        it = parts->erase(it);
        ++out->unwritable;
        continue;
      }
      it->folder = folder;
      it->name = part.name;
      out->partFiles.push_back(folder + L"\\" + part.name);
      ++it;
    }
  }
  return true;
}

}  // namespace oxm::test
