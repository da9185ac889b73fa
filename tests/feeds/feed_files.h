// The real-world feeds of the shared test data (feeds/ beside mail/), for the corpus test, the
// comparison with Python's feedparser and the benchmark.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/corpus/corpus_files.h"

namespace oxm::test {

// Every file under feeds/ except the notes about where they came from, sorted; empty when the
// test data is not there.
inline std::vector<std::string> corpusFeeds() {
  std::vector<std::string> files;
  const std::filesystem::path dir = std::filesystem::path(testdataDirectory()) / "feeds";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec))
    if (entry.is_regular_file() && !entry.path().filename().string().ends_with(".md"))
      files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace oxm::test
