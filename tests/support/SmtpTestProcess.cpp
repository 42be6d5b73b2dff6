// Starting and stopping the SMTP test server on Linux: a child with pipes
// on its stdin and stdout; and the openssl runs that make its certificates.
#include "tests/support/SmtpTestServer.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestCertificates.h"

extern char** environ;

namespace vantrel::test {
namespace {

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

std::string ServerPath(const std::string& path) { return path; }

int SmtpTestServer::Start(const std::vector<std::string>& scriptArguments) {
    std::vector<std::string> arguments = {"/usr/bin/python3", SmtpServerScript()};
    arguments.insert(arguments.end(), scriptArguments.begin(), scriptArguments.end());
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
        throw std::runtime_error("cannot start " + SmtpServerScript());
    }
    m_nPid = pid;
    const std::string ready = ReadFirstLine(output[0], kWaitMs);
    ::close(output[0]);
    if (ready.rfind("PORT ", 0) != 0) throw std::runtime_error("the SMTP test server did not start: " + ready);
    return std::stoi(ready.substr(5));
}

void SmtpTestServer::Stop() noexcept {
    // Closing its stdin stops the server; SIGTERM too, should it not read.
    ::close(m_stdin);
    ::kill(m_nPid, SIGTERM);
    int status = 0;
    ::waitpid(m_nPid, &status, 0);
}

// Its output goes to dir/openssl.log.
void RunOpenSsl(const TempDir& dir, std::vector<std::string> arguments) {
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

}  // namespace vantrel::test
