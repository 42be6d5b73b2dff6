// Runs vantrel_exit_host (tests/api/ExitHost.cpp) as a child process with a
// pipe on its standard input.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/QuoteServer.h"

extern char** environ;

namespace vantrel {
namespace test {

class ExitHostProcess {
public:
    // Starts the host with `arguments` after the library's path.
    explicit ExitHostProcess(const std::vector<std::string>& arguments) {
        std::vector<std::string> all = {VANTREL_EXIT_HOST, VANTREL_SHARED_LIBRARY};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        if (::posix_spawn(&m_pid, VANTREL_EXIT_HOST, &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        m_nStdin = fds[1];
    }
    ~ExitHostProcess() {
        Release();
        if (m_pid > 0 && !m_bReaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    ExitHostProcess(const ExitHostProcess&) = delete;
    ExitHostProcess& operator=(const ExitHostProcess&) = delete;

    bool started() const { return m_pid > 0; }

    // Closes the host's standard input: a host told to wait exits now.
    void Release() {
        if (m_nStdin >= 0) ::close(m_nStdin);
        m_nStdin = -1;
    }

    // Waits at most `timeoutMs` for the host to end; true when it exited
    // with code 0.
    bool ExitedCleanly(int timeoutMs = kWaitMs) {
        int status = 0;
        m_bReaped = WaitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeoutMs);
        return m_bReaped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t m_pid = -1;
    int m_nStdin = -1;
    bool m_bReaped = false;
};

}  // namespace test
}  // namespace vantrel
