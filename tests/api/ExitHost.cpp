// A host process for the exit tests: loads the library and exits while it
// is in use, without Logoff. Usage:
//   vantrel_exit_host <library> <port>
//       opens a session and returns from main while it runs; exit code 0
//       when Login returned 1.
//   vantrel_exit_host <library> <port> <host> wait
//       calls Login on a thread and returns from main, while that Login is
//       still under way, once its standard input has a byte or is closed;
//       exit code 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    const bool bWait = argc == 5 && std::strcmp(argv[4], "wait") == 0;
    if (argc != 3 && !bWait) return 64;
    void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 65;
    }
    using LoginFunction = int (*)(const char*, int, const char*, const char*);
    const auto login = reinterpret_cast<LoginFunction>(::dlsym(library, "Login"));
    if (login == nullptr) return 66;
    const int port = std::atoi(argv[2]);
    if (!bWait) return login("127.0.0.1", port, "host", "host-password") == 1 ? 0 : 1;

    // The thread is left running: the process exits under it.
    std::thread([=] { login(argv[3], port, "host", "host-password"); }).detach();
    char byte = 0;
    [[maybe_unused]] const ssize_t n = ::read(0, &byte, 1);
    return 0;
}
