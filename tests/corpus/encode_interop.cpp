// Encodes the composed messages of the encoding tests and every shared real-world message that
// decodes with a body, for compare_encoded_with_python.py: N.eml (what Encode produced) and N.json
// (what our decoder reads from it: subject, From, To, Cc, bodies, each part's name and file).
#include "frame/oxerror.h"
#include "tests/codec/encode_cases.h"
#include "tests/corpus/corpus_files.h"

namespace {

using oxm::test::utf8;

// A JSON string, or a list of them.
std::string json(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    char esc[8] = {'\\', ch, 0};
    if (static_cast<unsigned char>(ch) < 0x20) std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(ch));
    out += ch == '"' || ch == '\\' || static_cast<unsigned char>(ch) < 0x20 ? esc : std::string(1, ch);
  }
  return out + "\"";
}
std::string json(const std::wstring& s) { return json(utf8(s)); }
std::string json(const std::list<std::wstring>& list) {
  std::string out = "[";
  for (const std::wstring& s : list) out += (out.size() > 1 ? ", " : "") + json(s);
  return out + "]";
}

// Encodes the mail, writes OUT/N.eml and OUT/N.json; false (the code printed) when that fails.
bool encode(const std::filesystem::path& out, size_t n, const std::string& name, Email mail) {
  EmlCompose codec;
  std::string encoded;
  Email back;
  bool ok = codec.Encode(&mail, &encoded) && codec.Decode(&back, &encoded);
  std::ofstream(out / (std::to_string(n) + ".eml"), std::ios::binary) << encoded;
  std::string parts = "[";
  size_t k = 0;
  for (const std::list<Enclosure>* list : {&back.enclosures, &back.relatedFiles}) {
    for (Enclosure part : *list) {
      const std::wstring folder = L"\\parts" + std::to_wstring(n) + L"_" + std::to_wstring(k++);
      oxm::CreateDirectoryW(folder);
      part.folder = folder;
      part.name = L"part";
      ok = ok && codec.GetEnclosure(encoded, part);
      const std::string file = (out / "root" / (utf8(folder.substr(1)) + "/part")).string();
      parts += std::string(parts.size() > 1 ? ", " : "") + "{\"name\": " + json(part.displayName) +
               ", \"file\": " + json(file) + "}";
    }
  }
  if (!ok) {
    std::fprintf(stderr, "%s: %08x\n", name.c_str(), GetOxMiddleError());
    return false;
  }
  std::ofstream(out / (std::to_string(n) + ".json"), std::ios::binary)
      << "{\"name\": " << json(name) << ", \"subject\": " << json(back.subject) << ", \"from\": " << json(back.from)
      << ", \"fromName\": " << json(back.fromName) << ", \"to\": " << json(back.to)
      << ", \"cc\": " << json(back.cc) << ", \"body\": " << json(back.body) << ", \"html\": " << json(back.htmlBody)
      << ", \"parts\": " << parts << "]}\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path out = oxm::test::takeOutputArguments(argc, argv, "encode_interop");
  if (out.empty()) return 2;
  size_t count = 0;
  for (oxm::test::EncodeCase c : oxm::test::allEncodeCases()) {
    for (const auto& [path, bytes] : c.files) {
      std::filesystem::create_directories((out / "root" / path).parent_path());
      std::ofstream(out / "root" / path, std::ios::binary) << bytes;
    }
    if (!encode(out, count++, c.name, c.mail)) return 1;
  }
  for (int i = 0; i < argc; ++i) {
    const std::string raw = oxm::test::readWhole(argv[i]);
    oxm::test::Reencodable source;
    if (!oxm::test::prepareReencoding(raw, L"\\m" + std::to_wstring(i), &source)) return 1;
    if (source.mail.body.empty() && source.mail.htmlBody.empty()) continue;
    if (!encode(out, count++, argv[i], source.mail)) return 1;
  }
  std::printf("%zu messages\n", count);
  return 0;
}
