// A host process for the exit test: loads the library, opens a session and
// returns from main without Logoff, so the process exits while the session
// runs. Usage: vantrel_exit_host <library> <port>. Exit code 0 when Login
// returned 1.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

int main(int argc, char** argv) {
    if (argc != 3) return 64;
    void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 65;
    }
    using LoginFunction = int (*)(const char*, int, const char*, const char*);
    const auto login = reinterpret_cast<LoginFunction>(::dlsym(library, "Login"));
    if (login == nullptr) return 66;
    return login("127.0.0.1", std::atoi(argv[2]), "host", "host-password") == 1 ? 0 : 1;
}
