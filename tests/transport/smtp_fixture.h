// Shared set-up of the SMTP client tests: a recorder of the client's reports, an account for the
// server under test, and one message sent over a new connection.
#pragma once

#include <list>
#include <string>
#include <utility>
#include <vector>

#include "frame/oxerror.h"
#include "tests/transport/transport_fixture.h"
#include "transport/smtp_client.h"

namespace oxm::test {

const Events kAccepted = {{0, 0}};
inline Events failed(unsigned code) { return {{1, code}}; }
using SmtpRecorder = EventRecorder<SmtpClient::NotifySmtp>;

class SmtpTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    client_.registerNotifySmtp(&recorder_);
  }
  void TearDown() override {
    net::setPortRedirect(465, 0);
    net::setPortRedirect(587, 0);
    TransportTest::TearDown();
  }

  MailAccount account(unsigned port, unsigned method = 0, const wchar_t* password = L"secret1") {
    MailAccount a;
    a.smtpServerName = L"127.0.0.1";
    a.smtpServerPort = port;
    a.smtpAuthMethod = method;
    a.smtpUserName = L"alice";
    a.smtpPassword = password;
    return a;
  }

  // A new conversation of `a` that sends `text`; the reports start afresh.
  void sendMail(MailAccount a, std::string text, std::list<std::string> rcpts, std::string from) {
    recorder_.events.clear();
    text_ = std::move(text);
    mail_ = {std::move(from), std::move(rcpts), &text_};
    client_.setAccount(&a, connection_);
    client_.setMail(&mail_);
    client_.newConnection();
  }

  SmtpRecorder recorder_;
  SmtpClient client_;
  RawEmail_S mail_;
  std::string text_;
  void* connection_ = nullptr;  // the Connection Manager handle the client polls
};

}  // namespace oxm::test
