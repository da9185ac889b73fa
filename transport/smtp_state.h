// The states of an SMTP conversation, numbered as the client's debug lines and logs show them,
// with their names. Numbers 1, 2, 8, 12, 21, 22 and 25 are not used.
#pragma once

namespace oxm {

enum class SmtpState : int {
  Greeting = 0,        // connected; the greeting is the reply to read
  MailFromNext = 3,    // HELO sent, or authentication done: MAIL FROM follows its reply
  MailFromSent = 4,    // MAIL FROM sent
  RcptSent = 5,        // RCPT TO sent (one per recipient)
  DataNext = 6,        // every recipient accepted: DATA goes out at once
  DataSent = 7,        // DATA sent; the text follows its 354
  Closed = 9,          // QUIT sent, or no SMTP server
  Accepted = 10,       // the text and its end went out; after the 250: ready for the next message
  Accepted334 = 11,    // the text was answered with a "334" reply
  EhloSent = 13,       // EHLO sent (the reply may arrive over several reads)
  CramSent = 14,       // AUTH CRAM-MD5 sent; the challenge is the reply to read
  CramAnswered = 15,   // CRAM-MD5 answer sent
  LoginSent = 16,      // AUTH LOGIN sent
  UserSent = 17,       // LOGIN user name sent
  PasswordSent = 18,   // LOGIN password sent
  AuthAbandoned = 19,  // "*" sent: the server's challenge was unusable
  PopLogin = 20,       // POP before SMTP: greeting, USER, PASS
  PopApop = 23,        // POP before SMTP: greeting, APOP
  PopClosing = 24,     // POP before SMTP: QUIT sent to the POP server
  TlsDone = 26,        // STARTTLS done or not offered: greet again, no reply to read
  TlsEhloSent = 27,    // EHLO sent before STARTTLS
  StartTlsSent = 28,   // STARTTLS sent
  TlsHandshake = 29,   // STARTTLS accepted: the TLS handshake runs, no reply to read
};

// "GREETING", "MAIL_FROM_NEXT", ...; "?" for a value outside the enum.
const char* smtpStateName(SmtpState state);

}  // namespace oxm
