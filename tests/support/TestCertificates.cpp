#include "tests/support/TestCertificates.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

#include "tests/support/TempDir.h"

extern char** environ;

namespace vantrel::test {
namespace {

// Runs openssl with `arguments` in `dir`; its output goes to dir/openssl.log.
void OpenSsl(const TempDir& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "openssl");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string log = dir / "openssl.log";
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ::posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command;
        for (const std::string& argument : arguments) command += argument + " ";
        throw std::runtime_error("failed: " + command + "\n" + ReadFile(log));
    }
}

TestCertificates Make(const TempDir& dir) {
    const std::string kLocal = "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    WriteFile(dir / "local.ext", kLocal);
    WriteFile(dir / "other.ext", "subjectAltName=DNS:mail.example.org\n");
    for (const char* key : {"ca.key", "other-ca.key", "server.key"}) {
        OpenSsl(dir, {"ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key});
    }
    OpenSsl(dir, {"req", "-x509", "-new", "-key", "ca.key", "-subj", "/CN=Vantrel Test CA", "-days", "30",
                  "-out", "ca.pem"});
    OpenSsl(dir, {"req", "-x509", "-new", "-key", "other-ca.key", "-subj", "/CN=Vantrel Other CA", "-days", "30",
                  "-out", "other-ca.pem"});
    OpenSsl(dir, {"req", "-new", "-key", "server.key", "-subj", "/CN=localhost", "-out", "server.csr"});
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
        OpenSsl(dir, {"x509", "-req", "-in", "server.csr", "-CA", std::string(c.ca) + ".pem", "-CAkey",
                      std::string(c.ca) + ".key", "-set_serial", c.serial, "-days", c.days, "-extfile", c.ext,
                      "-out", c.out});
    }
    return {dir / "ca.pem",      dir / "server.key",  dir / "localhost.pem",
            dir / "otherhost.pem", dir / "expired.pem", dir / "untrusted.pem"};
}

}  // namespace

const TestCertificates& GetTestCertificates() {
    static const TempDir dir;
    static const TestCertificates certificates = Make(dir);
    return certificates;
}

std::vector<std::string> SmtpServerTlsArguments(const std::string& certificate, bool bImplicit) {
    return {"--tls-cert", certificate, "--tls-key", GetTestCertificates().sKey,
            bImplicit ? "--implicit-tls" : "--starttls"};
}

}  // namespace vantrel::test
