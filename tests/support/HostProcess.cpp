#include "tests/support/HostProcess.h"

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vantrel {
namespace test {

void LetSigpipeEndTheProcess() {
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

bool GmTime(int64_t nSeconds, std::tm& tm) {
    const std::time_t seconds = static_cast<std::time_t>(nSeconds);
    return ::gmtime_r(&seconds, &tm) != nullptr;
}

int UnreadBytes(int socket) {
    int unread = -1;
    return ::ioctl(socket, FIONREAD, &unread) == 0 ? unread : -1;
}

SocketShortage::SocketShortage() {
    const int lowest = ::open("/dev/null", O_RDONLY);
    if (lowest < 0) {
        m_why = "no descriptor to measure with";
        return;
    }
    ::close(lowest);
    rlimit saved{};
    if (::getrlimit(RLIMIT_NOFILE, &saved) != 0) {
        m_why = "getrlimit failed";
        return;
    }
    m_nSaved = static_cast<unsigned long long>(saved.rlim_cur);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    m_bActive = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
    if (!m_bActive) m_why = "setrlimit failed";
}

SocketShortage::~SocketShortage() {
    if (!m_bActive) return;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(m_nSaved);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace test
}  // namespace vantrel
