#include "tests/support/HostProcess.h"

#include <winsock2.h>

#include <cstdint>

namespace vantrel {
namespace test {

void LetSigpipeEndTheProcess() {}

bool GmTime(int64_t nSeconds, std::tm& tm) {
    const __time64_t seconds = nSeconds;
    return ::_gmtime64_s(&tm, &seconds) == 0;
}

int UnreadBytes(int socket) {
    u_long unread = 0;
    return ::ioctlsocket(static_cast<SOCKET>(static_cast<intptr_t>(socket)), FIONREAD, &unread) == 0
               ? static_cast<int>(unread)
               : -1;
}

SocketShortage::SocketShortage() : m_why("Windows has no per-process limit on sockets to lower") {}

SocketShortage::~SocketShortage() {}

}  // namespace test
}  // namespace vantrel
