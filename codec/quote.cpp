#include <cstdio>
#include <cwchar>
#include <vector>

#include "codec/address.h"
#include "codec/charset.h"
#include "codec/decode.h"
#include "codec/emlcompose.h"
#include "codec/quote_email.h"
#include "codec/text_util.h"
#include "codec/transfer.h"
#include "frame/oxerror.h"
#include "frame/registry_value.h"

namespace oxm {

namespace {

constexpr wchar_t kDateLine[] = L"%04d年%02d月%02d日%02d時%02d分%02d秒\r\n";
constexpr wchar_t kReplyTail[] = L"さんは書きました。\r\n";
constexpr wchar_t kForwardTail[] = L"さんが送信したメールを転送します。\r\n";
constexpr wchar_t kForwardSentTail[] = L"が送信したメールを転送します。\r\n";
constexpr wchar_t kFollowUpMiddle[] = L"が";
constexpr wchar_t kFollowUpTail[] = L"に送信したメールのフォローです。\r\n";
constexpr wchar_t kForwardHead[] = L"----Forwarded Message\r\n";
constexpr wchar_t kForwardEnd[] = L"\r\n----End of Forwarded Message\r\n";

bool isReplyKind(int kind) {
  return kind == QuoteEmail::REPLY || kind == QuoteEmail::REPLY_ALL || kind == QuoteEmail::FOLLOW_UP ||
         kind == QuoteEmail::FOLLOW_UP_2;
}

bool isForwardKind(int kind) { return kind == QuoteEmail::FORWARD || kind == QuoteEmail::FORWARD_SENT; }

std::wstring dateLineOf(const SYSTEMTIME& date) {
  wchar_t line[64];
  std::swprintf(line, sizeof line / sizeof line[0], kDateLine, date.wYear, date.wMonth, date.wDay, date.wHour,
                date.wMinute, date.wSecond);
  return line;
}

// ">" before the first line and after every CR LF that does not end the text.
std::wstring quoted(const std::wstring& body) {
  std::wstring out = L">";
  out.reserve(body.size() + body.size() / 16 + 1);
  for (size_t i = 0; i < body.size(); ++i) {
    out += body[i];
    if (body[i] == L'\n' && i > 0 && body[i - 1] == L'\r' && i + 1 < body.size()) out += L'>';
  }
  return out;
}

// The positions of "FilesID": "count:n1,n2;n3". Empty unless the value is there, the count is
// at least 1 and that many numbers could be read.
std::vector<unsigned long> filesId() {
  std::wstring value;
  const HKEY root = HKEY_CURRENT_USER;
  const wchar_t* const key = L"Software\\Tamarin\\OxMail";
  const wchar_t* const name = L"FilesID";
  const unsigned int before = GetOxMiddleError();  // a missing value is no failure of the caller's
  const bool present = GetRegistryValue(root, key, name, &value);
  SetOxMiddleError(before);
  if (!present) return {};
  auto number = [&](size_t* at, unsigned long* out) {
    size_t i = *at;
    while (i < value.size() && value[i] == L' ') ++i;
    const size_t start = i;
    unsigned long v = 0;
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9' && v < 100000000; ++i) v = v * 10 + (value[i] - L'0');
    if (i == start) return false;
    *out = v;
    *at = i;
    return true;
  };
  size_t at = 0;
  unsigned long count = 0;
  if (!number(&at, &count) || count == 0 || at >= value.size() || value[at] != L':') return {};
  ++at;
  std::vector<unsigned long> positions;
  for (unsigned long n = 0; n < count; ++n) {
    if (n > 0) {
      if (at >= value.size() || (value[at] != L',' && value[at] != L';')) return {};
      ++at;
    }
    unsigned long position = 0;
    if (!number(&at, &position)) return {};
    positions.push_back(position);
  }
  return positions;
}

// The bare addresses of a mailto address list (percent escapes already decoded), wide.
void appendAddresses(const std::string& value, std::list<std::wstring>* list) {
  for (const std::string& address : bareAddressList(value)) {
    if (address.empty()) continue;
    std::wstring wide;
    if (ConvertStoW(address, &wide) == OXMDL_ERR_NONE) list->push_back(std::move(wide));
  }
}

unsigned parseMailto(const std::string& url, Email* mail) {
  if (!mail) return OXMDL_ERR_MIME_NULL_ARG;
  clearEmail(mail);
  constexpr std::string_view kScheme = "mailto:";
  if (!startsWithNoCase(url, kScheme)) return OXMDL_ERR_MIME_DECODE;
  const std::string_view rest = std::string_view(url).substr(kScheme.size());
  const size_t question = rest.find('?');
  const std::string_view addresses = rest.substr(0, question);
  if (!addresses.empty()) appendAddresses(replacePercent(addresses), &mail->to);
  if (question == std::string_view::npos) return OXMDL_ERR_NONE;
  std::string_view query = rest.substr(question + 1);
  for (;;) {
    const size_t amp = query.find('&');
    const std::string piece = replacePercent(query.substr(0, amp));
    if (startsWithNoCase(piece, "to=")) {
      appendAddresses(piece.substr(3), &mail->to);
    } else if (startsWithNoCase(piece, "cc=")) {
      appendAddresses(piece.substr(3), &mail->cc);
    } else if (startsWithNoCase(piece, "bcc=")) {
      appendAddresses(piece.substr(4), &mail->bcc);
    } else if (startsWithNoCase(piece, "subject=")) {
      mail->subject.clear();
      ConvertStoW(piece.substr(8), &mail->subject);
    } else if (startsWithNoCase(piece, "body=")) {
      mail->body.clear();
      ConvertStoW(piece.substr(5), &mail->body);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return OXMDL_ERR_NONE;
}

}  // namespace

}  // namespace oxm

using namespace oxm;

bool QuoteEmail::Convertmaildata(int kind, const std::wstring& ownAddress, Email* mail) {
  if (!mail) {
    SetOxMiddleError(OXMDL_ERR_MIME_NULL_ARG);
    return false;
  }
  const std::wstring lowerSubject = lowerAscii(mail->subject);
  // The attribution names the original sender: taken before From becomes the user's address.
  const std::wstring name = !mail->senderLabel.empty() ? mail->senderLabel
                            : !mail->fromName.empty()  ? mail->fromName
                                                       : mail->from;
  Editmail_header(kind, ownAddress, mail);
  if (isReplyKind(kind) && lowerSubject.rfind(L"re:", 0) != 0) mail->subject = L"Re: " + mail->subject;
  if (isForwardKind(kind)) mail->subject = L"Fw: " + mail->subject;
  Editmail_bodydata(kind, dateLineOf(mail->date), name, &mail->body);
  const std::list<Enclosure> original = mail->enclosures;
  if (original.empty()) return true;
  const std::vector<unsigned long> related = filesId();
  if (isReplyKind(kind)) {
    if (mail->pictureMail)
      mail->enclosures.resize(1);
    else
      mail->enclosures.clear();
  }
  for (unsigned long position : related) {
    if (position >= original.size()) continue;
    auto it = original.begin();
    std::advance(it, static_cast<long>(position));
    mail->relatedFiles.push_back(*it);
  }
  return true;
}

void QuoteEmail::Editmail_header(int kind, const std::wstring& ownAddress, Email* mail) {
  if (!mail) return;
  const std::wstring oldFrom = std::move(mail->from);
  const std::wstring oldReplyTo = std::move(mail->replyTo);
  std::list<std::wstring> oldTo = std::move(mail->to);
  std::list<std::wstring> oldCc = std::move(mail->cc);
  std::list<std::wstring> oldBcc = std::move(mail->bcc);
  mail->from = ownAddress;
  mail->to.clear();
  mail->cc.clear();
  mail->bcc.clear();
  mail->replyTo.clear();
  switch (kind) {
    case REPLY_ALL:
      mail->cc = oldTo;
      mail->cc.insert(mail->cc.end(), oldCc.begin(), oldCc.end());
      [[fallthrough]];
    case REPLY:
      mail->to.push_back(oldReplyTo.empty() ? oldFrom : oldReplyTo);
      break;
    case FOLLOW_UP:
    case FOLLOW_UP_2:
      mail->to = std::move(oldTo);
      mail->cc = std::move(oldCc);
      mail->bcc = std::move(oldBcc);
      break;
    case FORWARD:
    case FORWARD_SENT:
      mail->messageId.clear();
      mail->inReplyTo.clear();
      mail->references.clear();
      break;
    default:
      break;
  }
}

void QuoteEmail::Editmail_bodydata(int kind, const std::wstring& dateLine, const std::wstring& name,
                                   std::wstring* body) {
  if (!body) return;
  const std::wstring text = quoted(*body);
  switch (kind) {
    case REPLY:
    case REPLY_ALL:
      *body = dateLine + name + kReplyTail + text;
      break;
    case FORWARD:
      *body = dateLine + name + kForwardTail + kForwardHead + text + kForwardEnd;
      break;
    case FOLLOW_UP:
    case FOLLOW_UP_2:
      *body = name + kFollowUpMiddle + dateLine + kFollowUpTail + text;
      break;
    case FORWARD_SENT:
      *body = dateLine + name + kForwardSentTail + kForwardHead + text + kForwardEnd;
      break;
    default:
      break;
  }
}

bool EmlCompose::ParseMailto(const std::string& url, Email* mail) {
  const unsigned code = parseMailto(url, mail);
  SetOxMiddleError(code);
  return code == OXMDL_ERR_NONE;
}
