#include "transport/smtp_reply.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "codec/transfer.h"
#include "frame/oxerror.h"

namespace oxm::smtp {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Some line of `text` begins with `prefix`.
bool hasLine(std::string_view text, std::string_view prefix) {
  size_t start = 0;
  while (start < text.size()) {
    if (text.compare(start, prefix.size(), prefix) == 0) return true;
    const size_t crlf = text.find("\r\n", start);
    if (crlf == std::string_view::npos) break;
    start = crlf + 2;
  }
  return false;
}

bool isBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return false;
  size_t pad = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=') {
      if (++pad > 2) return false;
      continue;
    }
    const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '+' || c == '/';
    if (!alpha || pad != 0) return false;  // nothing but "=" after the first "="
  }
  return true;
}

}  // namespace

bool beginsWith(std::string_view reply, std::string_view prefix) { return reply.substr(0, prefix.size()) == prefix; }

bool replyIs(std::string_view reply, std::initializer_list<const char*> codes) {
  if (reply.size() < 4) return false;
  if (reply[3] != ' ' && !(reply[3] == '\r' && reply.size() > 4 && reply[4] == '\n')) return false;
  for (const char* code : codes) {
    if (reply.compare(0, 3, code) == 0) return true;
  }
  return false;
}

bool ehloRefused(std::string_view reply) {
  for (const char* code : {"500", "502", "530", "550"}) {
    if (beginsWith(reply, code)) return true;
  }
  return false;
}

bool offersStartTls(std::string_view reply) { return hasLine(reply, "250-STARTTLS") || hasLine(reply, "250 STARTTLS"); }

unsigned ehloCapabilities(std::string_view reply, unsigned* caps) {
  *caps = 0;
  if (reply.size() < 4) return SMTP_GENERAL_ERR;
  if (!hasLine(reply, "250-AUTH") && !hasLine(reply, "250 AUTH")) {
    const char first = reply[0];
    const bool positive = first == '1' || first == '2' || first == '3';
    if (positive && (reply[3] == ' ' || reply[3] == '\r')) return SMTP_GENERAL_ERR;
    if (reply[3] != '-') return SMTP_GENERAL_ERR;
    if (first == '5') {
      const std::string_view code = reply.substr(0, 3);
      return code == "501" || code == "503" || code == "504" ? SMTP_GENERAL_ERR : SMTP_EHLO_ERR;
    }
    return OXMDL_ERR_NONE;  // a multi-line positive reply without AUTH: nothing to choose from
  }
  // The mechanisms are looked for anywhere after "250-AUTH " (the ninth byte on).
  const std::string_view rest = reply.size() > 9 ? reply.substr(9) : std::string_view();
  if (rest.find("LOGIN") != std::string_view::npos) *caps |= kAuthLogin;
  if (rest.find("CRAM-MD5") != std::string_view::npos) *caps |= kAuthCramMd5;
  return *caps == 0 ? SMTP_AUTH_METHOD_ERR : OXMDL_ERR_NONE;
}

std::string hmacMd5Hex(std::string_view key, std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(text.data()),
       text.size(), digest, &length);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::string base64Line(std::string_view value) {
  std::string line;
  base64Encode(value, &line, 0);
  line += "\r\n";
  return line;
}

bool cramMd5Answer(std::string_view reply, const std::string& user, const std::string& password, std::string* answer) {
  if (!beginsWith(reply, "334 ")) return false;
  std::string_view text = reply.substr(4);
  const size_t end = text.find("\r\n");
  if (end != std::string_view::npos) text = text.substr(0, end);
  if (!isBase64(text)) return false;
  *answer = base64Line(user + " " + hmacMd5Hex(password, base64Decode(text)));
  return true;
}

bool addressCommand(const char* verb, const std::string& address, std::string* line) {
  if (address.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return false;
  *line = std::string(verb) + address + ">\r\n";
  return true;
}

}  // namespace oxm::smtp
