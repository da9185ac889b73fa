#include "codec/header_decode.h"

#include <string_view>

#include "codec/address.h"
#include "codec/charset.h"
#include "codec/date_field.h"
#include "codec/displayable.h"
#include "codec/email.h"
#include "codec/header_lines.h"
#include "codec/text_util.h"
#include "frame/oxerror.h"

namespace oxm {

namespace {

enum class Field {
  From, Subject, Date, To, Cc, Bcc, ReplyTo, XMailer, MessageId, InReplyTo, References, MlName,
  Oversize, PictureMail, FeedMessage, FeedDownload,
};

enum class Words {
  None,        // the value is used as it is
  Plain,       // encoded words decoded
  BlankRule,   // encoded words decoded, a blank after each piece of plain text
};

struct FieldRule {
  std::string_view prefix;  // compared ignoring ASCII case with the start of the line
  Field field;
  Unfold unfold;
  Words words;
  bool unfolds;             // false: the value is taken as it is
};

// In this order; the first prefix that matches a line decides.
constexpr FieldRule kFields[] = {
    {"from:", Field::From, Unfold::Join, Words::BlankRule, true},
    {"subject:", Field::Subject, Unfold::Join, Words::BlankRule, true},
    {"date:", Field::Date, Unfold::Join, Words::None, true},
    {"to:", Field::To, Unfold::Remove, Words::Plain, true},
    {"cc:", Field::Cc, Unfold::Remove, Words::Plain, true},
    {"bcc:", Field::Bcc, Unfold::Remove, Words::Plain, true},
    {"reply-to:", Field::ReplyTo, Unfold::Remove, Words::Plain, true},
    {"x-mailer:", Field::XMailer, Unfold::Remove, Words::Plain, true},
    {"message-id:", Field::MessageId, Unfold::Remove, Words::Plain, true},
    {"in-reply-to:", Field::InReplyTo, Unfold::Remove, Words::Plain, true},
    {"references:", Field::References, Unfold::Remove, Words::Plain, true},
    {"x-ml-name:", Field::MlName, Unfold::Remove, Words::Plain, true},
    {"X-Oversize-Oxmail:", Field::Oversize, Unfold::Remove, Words::None, false},
    {"X-Oxmail_PictureMail:", Field::PictureMail, Unfold::Remove, Words::None, false},
    {"X-Tmr-Rivulet", Field::FeedMessage, Unfold::Remove, Words::None, false},
    {"X-Feed-Download:", Field::FeedDownload, Unfold::Remove, Words::Plain, true},
};

const FieldRule* ruleFor(std::string_view line) {
  for (const FieldRule& rule : kFields)
    if (startsWithNoCase(line, rule.prefix)) return &rule;
  return nullptr;
}

// The value after the prefix: trimmed, and (except for the subject) without one pair of double
// quotes around the whole of it; then unfolded and decoded as the rule says.
std::string fieldValue(std::string_view line, const FieldRule& rule) {
  std::string_view value = headerValue(line, rule.prefix.size());
  if (rule.field != Field::Subject && value.size() >= 2 && value.front() == '"' &&
      value.find('"', 1) == value.size() - 1)
    value = value.substr(1, value.size() - 2);
  if (!rule.unfolds) return std::string(value);
  const std::string unfolded = unfold(value, rule.unfold);
  if (rule.words == Words::None) return unfolded;
  return decodeEncodedWords(unfolded, rule.words == Words::BlankRule);
}

std::string bareAddress(const std::string& value) {
  std::string address, name;
  parseSingleAddress(value, &address, &name);
  return address;
}

// Stores one recognised field; returns the code of a failed conversion.
unsigned storeField(Field field, const std::string& value, Email* email, bool* oversize, bool* dateAccepted) {
  switch (field) {
    case Field::From: {
      std::string from, fromName;
      splitFrom(value, &from, &fromName);
      const unsigned code = ConvertStoW(from, &email->from);
      return code != OXMDL_ERR_NONE ? code : ConvertStoW(fromName, &email->fromName);
    }
    case Field::Subject: {
      std::string subject = value;
      replaceUndisplayable(&subject);
      return ConvertStoW(subject, &email->subject);
    }
    case Field::Date: {
      const DateField date = parseDateField(value);
      unsigned code = ConvertStoW(date.text, &email->dateText);
      if (code == OXMDL_ERR_NONE) code = ConvertStoW(date.zone, &email->timeZone);
      if (date.accepted) {
        email->date = date.local;
        *dateAccepted = true;
      }
      return code;
    }
    case Field::To: return convertStoW(bareAddressList(value), &email->to);
    case Field::Cc: return convertStoW(bareAddressList(value), &email->cc);
    case Field::Bcc: return convertStoW(bareAddressList(value), &email->bcc);
    case Field::ReplyTo: return ConvertStoW(bareAddress(value), &email->replyTo);
    case Field::XMailer:
      if (value.find("tamarin OxMail") != std::string::npos && value.find(" [PictureMail]") != std::string::npos)
        email->pictureMail = true;
      return OXMDL_ERR_NONE;
    case Field::MessageId: return ConvertStoW(bareAddress(value), &email->messageId);
    case Field::InReplyTo: return ConvertStoW(bareAddress(value), &email->inReplyTo);
    case Field::References: return ConvertStoW(bareAddress(value), &email->references);
    case Field::MlName: return ConvertStoW(value, &email->mlName);
    case Field::Oversize: *oversize = true; return OXMDL_ERR_NONE;
    case Field::PictureMail: email->pictureMail = true; return OXMDL_ERR_NONE;
    case Field::FeedMessage: email->feedMessage = true; return OXMDL_ERR_NONE;
    case Field::FeedDownload:
      email->feedDownload = true;
      return ConvertStoW(value, &email->feedDownloadValue);
  }
  return OXMDL_ERR_NONE;
}

}  // namespace

unsigned parseHeader(const std::string& text, size_t* pos, Email* email, bool* oversize) {
  *oversize = false;
  bool dateAccepted = false;
  std::string_view line;
  while (readHeaderLine(text, pos, &line)) {
    const FieldRule* rule = ruleFor(line);
    if (!rule) continue;
    const unsigned code = storeField(rule->field, fieldValue(line, *rule), email, oversize, &dateAccepted);
    if (code != OXMDL_ERR_NONE) return code;
  }
  if (!dateAccepted && !email->feedMessage) {
    std::string line;
    makeDateField(&line, email);
    email->synthesizedDate = line.substr(1) + "\r\n";
  }
  return OXMDL_ERR_NONE;
}

}  // namespace oxm
