// A real SMTP server for tests: smtp_server.py (aiosmtpd) started on a free
// loopback port with the system Python, and stopped with the object. Every
// mail it receives is read back as the summary the script writes (see
// smtp_server.py). A Windows test under Wine starts it the same way, as a
// Linux program (Wine programs share the machine's loopback).
#pragma once

#include <string>
#include <vector>

#include "tests/support/QuoteServer.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace test {

// One received mail: the summary's "key value" lines.
struct ReceivedMail {
    std::vector<std::pair<std::string, std::string>> facts;

    // The values of `key`, in order.
    std::vector<std::string> All(const std::string& key) const;
    // The first value of `key`, or "<none>".
    std::string First(const std::string& key) const;
    // The value of header `name` ("<none>" when absent).
    std::string Header(const std::string& name) const;
};

// Bytes from hexadecimal text.
std::string FromHex(const std::string& hex);

class SmtpTestServer {
public:
    // `auth`: "login", "plain", "both" or "none". `extraArguments` go to the
    // script as they are (TLS options).
    explicit SmtpTestServer(std::string user = "alerts", std::string password = "Sm7p-Pa55",
                            std::string auth = "login", std::vector<std::string> extraArguments = {});
    ~SmtpTestServer();
    SmtpTestServer(const SmtpTestServer&) = delete;
    SmtpTestServer& operator=(const SmtpTestServer&) = delete;

    int port() const { return m_nPort; }
    const std::string& user() const { return m_sUser; }
    const std::string& password() const { return m_sPassword; }

    // The mails received so far, in order.
    std::vector<ReceivedMail> Mails() const;
    // Waits until at least `count` mails have arrived.
    bool WaitForMails(std::size_t count, int timeoutMs = kWaitMs) const;

private:
    // Starts the script with `arguments` (after the interpreter and the
    // script) and returns its port; throws when it does not start.
    int Start(const std::vector<std::string>& arguments);
    void Stop() noexcept;

    TempDir m_dir;
    std::string m_sUser;
    std::string m_sPassword;
    int m_nPid = -1;   // Linux: the child; its stdin stops it
    int m_stdin = -1;
    int m_nPort = 0;
};

// Where smtp_server.py is.
std::string SmtpServerScript();
// `path` as the server, a Linux program, names it: the same on Linux; under
// Wine the Linux path of a Windows path.
std::string ServerPath(const std::string& path);

}  // namespace test
}  // namespace vantrel
