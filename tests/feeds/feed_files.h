// The real-world feeds of the shared test data, for the corpus test and the benchmark.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/corpus/corpus_files.h"

namespace oxm::test {

// Every file under feeds/ but the notes on where they came from, sorted; none without the data.
inline std::vector<std::string> corpusFeeds() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(testdataDirectory() + "/feeds", ec))
    if (entry.is_regular_file() && !entry.path().filename().string().ends_with(".md"))
      files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace oxm::test
