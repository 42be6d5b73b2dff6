// The DLL's load and unload routine.
//
// Load starts Windows Sockets 2.2 and refuses the load when it cannot.
// Unload by FreeLibrary stops Windows Sockets again; the C++ run-time then
// destroys the library's process-wide objects. Nothing here waits for a
// thread: this runs under the loader lock, which an ending thread needs. No
// library thread can be running at that point anyway, since each holds a
// reference on the module (see LibraryThread). At process exit Windows has
// already ended every other thread and reclaims the sockets itself, so the
// routine does nothing then.
//
// A host calls Logoff for every Login before FreeLibrary. FreeLibrary during
// a session leaves the DLL loaded, with the session running, until the
// session ends: by Logoff (through a handle from a new LoadLibrary) or by the
// server closing the connection.
#include "platform/Module.h"
#include "platform/win32/Windows.h"

namespace {

bool g_bSocketLayerStarted = false;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID pReserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            g_bSocketLayerStarted = vantrel::platform::StartSocketLayer();
            return g_bSocketLayerStarted ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            if (pReserved == nullptr && g_bSocketLayerStarted) {
                vantrel::platform::StopSocketLayer();
                g_bSocketLayerStarted = false;
            }
            break;
        default:
            break;
    }
    return TRUE;
}
