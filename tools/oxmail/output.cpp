#include "tools/oxmail/output.h"

#include <oxmiddle/oxmiddle.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>

#include "tools/oxmail/commands.h"

namespace oxmail {

Settings& settings() {
  static Settings s;
  return s;
}

namespace {

std::string& recoverAccount() {
  static std::string name;
  return name;
}

// Codes that mean a store file is damaged or was left half-written, which recovery mends:
// format illegal, read failures, the pre-open outcomes, an unknown message file version, and
// header caches that disagree with their lists.
bool storeDamage(unsigned code) {
  return (code >= OXMDL_ERR_STG_FILE_FMTILLGL_FLD && code <= OXMDL_ERR_STG_FILE_FMTILLGL_ENTRY) ||
         (code >= OXMDL_ERR_STG_FILEIO_FILE_READ_TREESTS && code <= OXMDL_ERR_STG_FILEIO_FILE_READ_ENTRY) ||
         (code >= OXMDL_ERR_STG_DELTMP_TREESTS && code <= OXMDL_ERR_STG_COMMIT_ENTRY) ||
         code == OXMDL_ERR_STG_HEADER_COUNT || code == OXMDL_ERR_STG_HEADER_MISMATCH;
}

}  // namespace

void setRecoverHint(const std::string& account) { recoverAccount() = account; }

void libraryFailure(const std::string& what) {
  const unsigned code = GetOxMiddleError();
  std::string text = what + ": " + describe(code);
  if (storeDamage(code)) {
    const std::string& account = recoverAccount();
    text += "; the message store is damaged: run 'oxmail recover " + (account.empty() ? std::string("ACCOUNT") : account) +
            "' to repair it";
  }
  // A device root that cannot be written explains most open and write failures.
  const std::string problem = OxDeviceWriteProblem(L"\\");
  if (!problem.empty()) text += "; the device root " + OxGetDeviceRoot() + " cannot be written: " + problem;
  throw Failure(text);
}

void checkName(const char* what, const std::string& name, size_t maxBytes) {
  const std::string refused = "'" + name + "' cannot be a" + (what[0] == 'a' ? "n " : " ") + what + " name: ";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) throw Failure(refused + "it holds a control character");
    if (c == '/' || c == '\\') throw Failure(refused + "it holds '/' or '\\'");
  }
  if (maxBytes && name.size() > maxBytes) throw Failure(refused + "it is longer than " + std::to_string(maxBytes) + " bytes");
}

std::string utf8(const std::wstring& text) {
  std::string out;
  std::mbstate_t state{};
  char buf[MB_LEN_MAX];
  for (wchar_t c : text) {
    size_t n = std::wcrtomb(buf, c, &state);
    if (n == static_cast<size_t>(-1)) {
      out += '?';
      state = std::mbstate_t{};
      continue;
    }
    out.append(buf, n);
  }
  return out;
}

std::wstring wide(const std::string& utf8Text) {
  std::wstring out;
  std::mbstate_t state{};
  const char* p = utf8Text.data();
  size_t left = utf8Text.size();
  while (left > 0) {
    wchar_t c;
    size_t n = std::mbrtowc(&c, p, left, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      out += L'\uFFFD';
      state = std::mbstate_t{};
      n = 1;
    } else if (n == 0) {
      out += L'\0';
      n = 1;
    } else {
      out += c;
    }
    p += n;
    left -= n;
  }
  return out;
}

size_t displayWidth(const std::string& utf8Text) {
  size_t width = 0;
  for (wchar_t c : wide(utf8Text)) {
    int w = ::wcwidth(c);
    width += w > 0 ? static_cast<size_t>(w) : 0;
  }
  return width;
}

namespace {

// The longest prefix of the text that fits in `width` columns, with "…" when cut.
std::string fit(const std::string& text, size_t width) {
  if (width == 0 || displayWidth(text) <= width) return text;
  std::wstring w = wide(text);
  std::wstring out;
  size_t used = 0;
  for (wchar_t c : w) {
    int cw = std::max(::wcwidth(c), 0);
    if (used + static_cast<size_t>(cw) + 1 > width) break;
    out += c;
    used += static_cast<size_t>(cw);
  }
  return utf8(out) + "\u2026";
}

void pad(std::string* line, size_t spaces) { line->append(spaces, ' '); }

}  // namespace

std::string jsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void Table::limit(size_t column, size_t width) {
  if (limits_.size() <= column) limits_.resize(column + 1, 0);
  limits_[column] = width;
}

void Table::print() const {
  if (settings().json) {
    for (const auto& row : rows_) {
      std::string line = "{";
      for (size_t i = 0; i < columns_.size() && i < row.size(); ++i) {
        if (i) line += ",";
        line += jsonQuote(columns_[i]) + ":" + (row[i].number ? row[i].text : jsonQuote(row[i].text));
      }
      std::printf("%s}\n", line.c_str());
    }
    return;
  }
  std::vector<std::vector<std::string>> cells;
  std::vector<size_t> widths(columns_.size(), 0);
  for (size_t i = 0; i < columns_.size(); ++i) widths[i] = displayWidth(columns_[i]);
  for (const auto& row : rows_) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < columns_.size() && i < row.size(); ++i) {
      texts.push_back(fit(row[i].text, i < limits_.size() ? limits_[i] : 0));
      widths[i] = std::max(widths[i], displayWidth(texts.back()));
    }
    cells.push_back(std::move(texts));
  }
  auto emit = [&](const std::vector<std::string>& texts, const std::vector<Cell>* row) {
    std::string line;
    for (size_t i = 0; i < texts.size(); ++i) {
      const size_t gap = widths[i] - displayWidth(texts[i]);
      const bool right = row && (*row)[i].number;
      if (right) pad(&line, gap);
      line += texts[i];
      if (i + 1 < texts.size()) {
        if (!right) pad(&line, gap);
        line += "  ";
      }
    }
    std::printf("%s\n", line.c_str());
  };
  std::vector<std::string> header(columns_.begin(), columns_.end());
  for (auto& h : header) {
    for (auto& ch : h) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  emit(header, nullptr);
  for (size_t r = 0; r < cells.size(); ++r) emit(cells[r], &rows_[r]);
}

void printRecord(const std::vector<std::pair<std::string, Cell>>& fields) {
  if (settings().json) {
    std::string line = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) line += ",";
      const Cell& c = fields[i].second;
      line += jsonQuote(fields[i].first) + ":" + (c.number ? c.text : jsonQuote(c.text));
    }
    std::printf("%s}\n", line.c_str());
    return;
  }
  size_t width = 0;
  for (const auto& f : fields) width = std::max(width, displayWidth(f.first));
  for (const auto& f : fields) {
    std::string line = f.first + ":";
    pad(&line, width - displayWidth(f.first) + 1);
    std::printf("%s%s\n", line.c_str(), f.second.text.c_str());
  }
}

Progress::Progress(std::string label, size_t total)
    : label_(std::move(label)), total_(total), shown_(!settings().quiet && OxIsTerminal(2) && total > 0) {}

Progress::~Progress() {
  if (shown_ && lastPercent_ >= 0) std::fprintf(stderr, "\r\033[K");
}

void Progress::step(size_t done) {
  if (!shown_) return;
  int percent = static_cast<int>(done * 100 / total_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  const int columns = OxTerminalColumns();
  const std::string counts = " " + std::to_string(done) + "/" + std::to_string(total_);
  int barWidth = columns - static_cast<int>(displayWidth(label_) + counts.size()) - 4;
  barWidth = std::clamp(barWidth, 10, 50);
  const int filled = barWidth * percent / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(barWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s]%s", label_.c_str(), bar.c_str(), counts.c_str());
  std::fflush(stderr);
}

}  // namespace oxmail
