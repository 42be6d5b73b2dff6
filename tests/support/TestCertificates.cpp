#include "tests/support/TestCertificates.h"

#include "tests/support/SmtpTestServer.h"
#include "tests/support/TempDir.h"

namespace vantrel::test {
namespace {

TestCertificates Make(const TempDir& dir) {
    const std::string kLocal = "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    WriteFile(dir / "local.ext", kLocal);
    WriteFile(dir / "other.ext", "subjectAltName=DNS:mail.example.org\n");
    for (const char* key : {"ca.key", "other-ca.key", "server.key"}) {
        RunOpenSsl(dir, {"ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key});
    }
    RunOpenSsl(dir, {"req", "-x509", "-new", "-key", "ca.key", "-subj", "/CN=Vantrel Test CA", "-days", "30",
                  "-out", "ca.pem"});
    RunOpenSsl(dir, {"req", "-x509", "-new", "-key", "other-ca.key", "-subj", "/CN=Vantrel Other CA", "-days", "30",
                  "-out", "other-ca.pem"});
    RunOpenSsl(dir, {"req", "-new", "-key", "server.key", "-subj", "/CN=localhost", "-out", "server.csr"});
    const struct {
        const char* out;
        const char* ca;
        const char* days;
        const char* ext;
        const char* serial;
    } certificates[] = {
        {"localhost.pem", "ca", "30", "local.ext", "1"},
        {"otherhost.pem", "ca", "30", "other.ext", "2"},
        {"expired.pem", "ca", "-1", "local.ext", "3"},
        {"untrusted.pem", "other-ca", "30", "local.ext", "4"},
    };
    for (const auto& c : certificates) {
        RunOpenSsl(dir, {"x509", "-req", "-in", "server.csr", "-CA", std::string(c.ca) + ".pem", "-CAkey",
                      std::string(c.ca) + ".key", "-set_serial", c.serial, "-days", c.days, "-extfile", c.ext,
                      "-out", c.out});
    }
    // A bundle as a system exports it: another authority first, CR LF line
    // ends, text between the certificates.
    std::string bundle = "Vantrel Other CA\n" + ReadFile(dir / "other-ca.pem") + "\nVantrel Test CA\n" +
                         ReadFile(dir / "ca.pem");
    for (std::size_t at = bundle.find('\n'); at != std::string::npos; at = bundle.find('\n', at + 2)) {
        bundle.insert(at, 1, '\r');
    }
    WriteFile(dir / "bundle.pem", bundle);
    return {dir / "ca.pem",        dir / "server.key",  dir / "localhost.pem", dir / "otherhost.pem",
            dir / "expired.pem",   dir / "untrusted.pem", dir / "bundle.pem"};
}

}  // namespace

const TestCertificates& GetTestCertificates() {
    static const TempDir dir;
    static const TestCertificates certificates = Make(dir);
    return certificates;
}

std::vector<std::string> SmtpServerTlsArguments(const std::string& certificate, bool bImplicit) {
    return {"--tls-cert", ServerPath(certificate), "--tls-key", ServerPath(GetTestCertificates().sKey),
            bImplicit ? "--implicit-tls" : "--starttls"};
}

}  // namespace vantrel::test
