// The library's module: what its load and unload do to the operating system,
// and data the build placed inside it.
#pragma once

#include <cstddef>

namespace vantrel::platform {

// Starts the socket layer (Windows Sockets 2.2) when the library is loaded;
// false when it cannot start, which refuses the load. Nothing to start on
// Linux. Each successful start is matched by one StopSocketLayer.
bool StartSocketLayer() noexcept;
void StopSocketLayer() noexcept;

struct ResourceBytes {
    const char* pData;
    std::size_t nSize;
};

// A resource of the module that holds this code (the DLL, or the program the
// library is linked into), by type name and numeric id: {nullptr, 0} when it
// is missing. Windows only: on Linux the build compiles such data into the
// code instead.
ResourceBytes ModuleResource(const char* type, int id) noexcept;

}  // namespace vantrel::platform
