// The SMTP client's wire texts without any socket: what a reply's code says, what an EHLO reply
// offers, the answers of AUTH CRAM-MD5 and AUTH LOGIN, and the commands that
// carry an address. Pure functions over bytes, so the fuzz target and the tests reach them
// directly.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace oxm::smtp {

// Bits of the AUTH mechanisms an EHLO reply advertises.
enum : unsigned { kAuthLogin = 1, kAuthCramMd5 = 2 };

// The reply check of every state but the EHLO ones: the fourth byte is a blank, or CR followed
// by LF, and the first three bytes are one of `codes`.
bool replyIs(std::string_view reply, std::initializer_list<const char*> codes);
// The reply begins with `code` (three digits), whatever follows.
bool beginsWith(std::string_view reply, std::string_view prefix);

// The server refused EHLO outright (500, 502, 530, 550): the client greets with HELO instead.
bool ehloRefused(std::string_view reply);
// A line of the reply is "250-STARTTLS" or "250 STARTTLS".
bool offersStartTls(std::string_view reply);
// The capability check of a complete EHLO reply. Returns 0 and sets *caps (kAuthLogin,
// kAuthCramMd5) when an AUTH line names LOGIN or CRAM-MD5; SMTP_AUTH_METHOD_ERR when the AUTH
// line names neither; without an AUTH line SMTP_GENERAL_ERR, or SMTP_EHLO_ERR for a multi-line
// 5xx reply other than 501, 503, 504. A reply under 4 bytes: SMTP_GENERAL_ERR.
unsigned ehloCapabilities(std::string_view reply, unsigned* caps);

// The answer to a "334 <Base64 challenge>" of AUTH CRAM-MD5 (RFC 2195): Base64 of the user, a
// blank and the lower-case hexadecimal HMAC-MD5 (RFC 2104) of the challenge keyed with the
// password, then CR LF. False (and *answer untouched) when the reply does not begin "334 " or
// its text is not Base64 (RFC 4648 alphabet with "=" padding, length a multiple of 4).
bool cramMd5Answer(std::string_view reply, const std::string& user, const std::string& password,
                   std::string* answer);
// HMAC-MD5 of `text` keyed with `key`, 32 lower-case hexadecimal digits.
std::string hmacMd5Hex(std::string_view key, std::string_view text);
// Base64 of `value` followed by CR LF: the answers of AUTH LOGIN.
std::string base64Line(std::string_view value);

// "<verb><address>>\r\n" ("MAIL FROM: <", "RCPT TO: <"). An address holding CR, LF or NUL would
// smuggle a second command onto the wire: false, *line untouched.
bool addressCommand(const char* verb, const std::string& address, std::string* line);

}  // namespace oxm::smtp
