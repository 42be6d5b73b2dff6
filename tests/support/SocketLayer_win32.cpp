// Linked into every Windows test program. The programs link the library's
// internals rather than load the DLL, whose load starts the socket layer:
// this starts it for them before any test, so that a test that only connects
// (to a server outside the process) finds Windows Sockets ready.
#include <cstdio>
#include <cstdlib>

#include "platform/Module.h"

namespace {

const bool g_bSocketLayerStarted = [] {
    if (vantrel::platform::StartSocketLayer()) return true;
    std::fputs("WSAStartup failed\n", stderr);
    std::exit(1);
}();

}  // namespace
