// vantrel-feedsim: a quotes server for development and tests.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>

#include "feedsim/FeedOptions.h"
#include "feedsim/FeedServer.h"
#include "feedsim/Market.h"

namespace {

feedsim::FeedServer* g_pServer = nullptr;

void OnStopSignal(int) { g_pServer->Stop(); }

// Writes the port beside the file and renames it into place, so that a
// reader never sees a partly written file.
bool WritePortFile(const std::string& path, int port) {
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << '\n';
        if (!out.flush()) return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

uint64_t ClockSeed() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

int main(int argc, char** argv) {
    feedsim::FeedOptions options;
    std::string error;
    switch (feedsim::ParseFeedOptions(argc, argv, options, error)) {
        case feedsim::ParseOutcome::Help:
            std::cout << feedsim::FeedUsage();
            return 0;
        case feedsim::ParseOutcome::Version:
            std::cout << "vantrel-feedsim " VANTREL_VERSION "\n";
            return 0;
        case feedsim::ParseOutcome::Error:
            std::cerr << "vantrel-feedsim: " << error << "\n"
                      << "Try 'vantrel-feedsim --help' for the options.\n";
            return 2;
        case feedsim::ParseOutcome::Run:
            break;
    }

    feedsim::Market market(options.symbols, options.depth, options.step, options.spread,
                           options.seed ? *options.seed : ClockSeed());
    feedsim::FeedServer server(options, market, std::cerr);
    if (!server.Listen(error)) {
        std::cerr << "vantrel-feedsim: " << error << "\n";
        return 1;
    }
    g_pServer = &server;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Our own handlers, whatever the disposition on entry: a simulator
    // started in the background from a script inherits SIGINT ignored, and
    // must still stop on Ctrl-C or on a `kill -INT`.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!options.portFile.empty() && !WritePortFile(options.portFile, server.Port())) {
        std::cerr << "vantrel-feedsim: cannot write the port file " << options.portFile << "\n";
        return 1;
    }
    const bool bIPv6 = options.listenAddress.find(':') != std::string::npos;
    std::cout << "vantrel-feedsim listening on " << (bIPv6 ? "[" : "") << options.listenAddress
              << (bIPv6 ? "]" : "") << ":" << server.Port() << std::endl;

    server.Run();
    if (!options.portFile.empty()) std::remove(options.portFile.c_str());
    return 0;
}
