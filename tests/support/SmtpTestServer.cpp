#include "tests/support/SmtpTestServer.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::test {
namespace {

std::string ScriptPath() {
    const char* source = std::getenv("VANTREL_TEST_SOURCE_DIR");
    return std::string(source != nullptr ? source : VANTREL_SOURCE_DIR) + "/tests/support/smtp_server.py";
}

// The first line the child writes, within `timeoutMs`.
std::string ReadFirstLine(int fd, int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char c = 0;
    while (line.empty() || line.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1 || ::read(fd, &c, 1) != 1) break;
        line += c;
    }
    return line;
}

}  // namespace

std::vector<std::string> ReceivedMail::All(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& fact : facts) {
        if (fact.first == key) values.push_back(fact.second);
    }
    return values;
}

std::string ReceivedMail::First(const std::string& key) const {
    const std::vector<std::string> values = All(key);
    return values.empty() ? "<none>" : values.front();
}

std::string ReceivedMail::Header(const std::string& name) const {
    for (const std::string& header : All("header")) {
        if (header.compare(0, name.size() + 2, name + ": ") == 0) return header.substr(name.size() + 2);
    }
    return "<none>";
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

SmtpTestServer::SmtpTestServer(std::string user, std::string password, std::string auth,
                               std::vector<std::string> extraArguments)
    : m_sUser(std::move(user)), m_sPassword(std::move(password)) {
    std::vector<std::string> arguments = {"/usr/bin/python3", ScriptPath(), "--dir", m_dir.path(),
                                          "--user", m_sUser, "--password", m_sPassword, "--auth", auth};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    ::posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    m_stdin = input[1];
    if (spawned != 0) {
        ::close(output[0]);
        throw std::runtime_error("cannot start " + ScriptPath());
    }
    m_nPid = pid;
    const std::string ready = ReadFirstLine(output[0], kWaitMs);
    ::close(output[0]);
    if (ready.rfind("PORT ", 0) != 0) throw std::runtime_error("the SMTP test server did not start: " + ready);
    m_nPort = std::stoi(ready.substr(5));
}

SmtpTestServer::~SmtpTestServer() {
    // Closing its stdin stops the server; SIGTERM too, should it not read.
    ::close(m_stdin);
    ::kill(m_nPid, SIGTERM);
    int status = 0;
    ::waitpid(m_nPid, &status, 0);
}

std::vector<ReceivedMail> SmtpTestServer::Mails() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
        if (entry.path().extension() == ".txt") names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<ReceivedMail> mails;
    for (const std::string& name : names) {
        ReceivedMail mail;
        for (const std::string& line : ReadLines(name)) {
            const std::string::size_type blank = line.find(' ');
            mail.facts.emplace_back(line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1));
        }
        mails.push_back(std::move(mail));
    }
    return mails;
}

bool SmtpTestServer::WaitForMails(std::size_t count, int timeoutMs) const {
    return WaitUntil([&] { return Mails().size() >= count; }, timeoutMs);
}

}  // namespace vantrel::test
