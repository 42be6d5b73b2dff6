// What the tests need from the operating system beyond the library's own
// platform layer, with a Linux and a Windows implementation.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vantrel {
namespace test {

// Lets a SIGPIPE end the process (default disposition, unblocked), so a test
// sees it if the library ever raised one. Nothing on Windows, which has no
// SIGPIPE.
void LetSigpipeEndTheProcess();

// The C library's UTC breakdown of a time. False where it has none: Windows
// breaks down no time before 1970.
bool GmTime(int64_t nSeconds, std::tm& tm);

// Bytes waiting unread in a socket's receive queue, or -1 on failure.
int UnreadBytes(int socket);

// While it lives, the next socket the process opens fails: the open-file
// limit is lowered to the lowest free descriptor. Windows has no such limit:
// active() is false there, with the reason in why().
class SocketShortage {
public:
    SocketShortage();
    ~SocketShortage();
    SocketShortage(const SocketShortage&) = delete;
    SocketShortage& operator=(const SocketShortage&) = delete;
    bool active() const { return m_bActive; }
    const std::string& why() const { return m_why; }

private:
    bool m_bActive = false;
    std::string m_why;
    unsigned long long m_nSaved = 0;
};

}  // namespace test
}  // namespace vantrel
