// Certificates for the TLS tests, made once per test program with the openssl
// command line in a temporary directory (small EC keys, so it is quick): a
// certificate authority, and server certificates that share one key. Under
// Wine openssl runs as a Linux program, like the SMTP test server.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace vantrel {
namespace test {

struct TestCertificates {
    std::string sCAFile;     // the test authority's certificate
    std::string sKey;        // the key of every server certificate below
    std::string sLocalhost;  // localhost and 127.0.0.1, signed by the authority
    std::string sOtherHost;  // mail.example.org only, signed by the authority
    std::string sExpired;    // localhost and 127.0.0.1, expired yesterday
    std::string sUntrusted;  // localhost and 127.0.0.1, signed by another authority
    std::string sCABundle;   // the other authority and the test authority, CR LF
};

// Made on first use; throws std::runtime_error when openssl fails.
const TestCertificates& GetTestCertificates();

// Runs the openssl command line with `arguments` in `dir`; throws
// std::runtime_error with its output when it fails. Beside the SMTP test
// server's process start (SmtpTestProcess*.cpp).
void RunOpenSsl(const TempDir& dir, std::vector<std::string> arguments);

// The arguments that give the test SMTP server (SmtpTestServer) `certificate`
// with the test key: STARTTLS required before AUTH and MAIL, or, when
// `bImplicit`, TLS from the first byte.
std::vector<std::string> SmtpServerTlsArguments(const std::string& certificate, bool bImplicit);

}  // namespace test
}  // namespace vantrel
