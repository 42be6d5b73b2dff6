// A host process for the exit test: loads the probe, queues mails, and
// returns from main when its stdin closes, so that the process exits while
// the mail thread is sending. Usage: notify_mail_exit_host <probe> <port>.
// Exit code 0 when the mails were queued.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) return 64;
    void* probe = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (probe == nullptr) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 65;
    }
    using QueueFunction = int (*)(const char*, int);
    const auto queue = reinterpret_cast<QueueFunction>(::dlsym(probe, "vantrel_probe_queue_mails"));
    if (queue == nullptr || queue("127.0.0.1", std::atoi(argv[2])) != 1) return 66;
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}
