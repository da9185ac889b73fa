// A received message made ready to be encoded again: decoded, its enclosures and related files
// written to files under a directory of the device root, each part pointed at its file.
#pragma once

#include <string>
#include <vector>

#include "codec/emlcompose.h"
#include "frame/oxerror.h"
#include "platform/fs.h"

namespace oxm::test {

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
