// A scripted SMTP server for fault tests: a loopback listener whose dialogue
// the test writes step by step, per connection (greeting, replies split into
// segments, silence, close mid-reply). It plays the script on its own thread
// while the test drives the client.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/QuoteServer.h"

namespace vantrel {
namespace test {

class SmtpFaultServer {
public:
    enum class Then {
        Continue,  // go on with the next step
        Close,     // close the connection in order; the next dialogue begins
        Reset,     // abort it (the client's receive fails with ECONNRESET)
        Silence,   // send nothing more and wait until the client closes
    };

    struct Step {
        // What the client must send before the reply: the start of a command
        // line, "" for nothing (the greeting), kAnyLine for any one line, or
        // kData for a whole DATA stream up to its "." line.
        std::string expect;
        // Sent in order, with a pause between two segments.
        std::vector<std::string> segments;
        Then then = Then::Continue;
    };
    using Dialogue = std::vector<Step>;

    static constexpr const char* kAnyLine = "<LINE>";
    static constexpr const char* kData = "<DATA>";

    // One dialogue per connection, accepted in turn.
    explicit SmtpFaultServer(std::vector<Dialogue> dialogues, int pauseMs = 200);
    ~SmtpFaultServer();
    SmtpFaultServer(const SmtpFaultServer&) = delete;
    SmtpFaultServer& operator=(const SmtpFaultServer&) = delete;

    int port() const { return m_server.port(); }

    // Waits until the client has sent what `count` steps expect, over all
    // connections.
    bool WaitForSteps(int count, int timeoutMs = kWaitMs) const {
        return WaitUntil([&] { return m_nSteps.load() >= count; }, timeoutMs);
    }

    int DialoguesEnded() const { return m_nDialogues.load(); }
    // Waits until `count` dialogues have ended (the server closed them or
    // saw the client close).
    bool WaitForDialogues(int count, int timeoutMs = kWaitMs) const {
        return WaitUntil([&] { return m_nDialogues.load() >= count; }, timeoutMs);
    }

    // Waits until the script has been played; true when the client sent
    // what every step expected. The results below are read after it.
    bool Finish();
    const std::string& Failure() const { return m_sFailure; }
    // Everything each connection's client sent.
    const std::vector<std::string>& Received() const { return m_received; }
    // The DATA streams received (without the "." line).
    const std::vector<std::string>& Messages() const { return m_messages; }

    // Greeting, EHLO, AUTH LOGIN with its two challenges, and 235.
    static Dialogue LoggedIn();
    // MAIL, `recipients` RCPTs, DATA and the message, each answered in full.
    static Dialogue Transaction(int recipients);
    // QUIT answered with 221, then an orderly close.
    static Step Quit();
    static Dialogue Join(std::vector<Dialogue> parts);

private:
    void Play(std::vector<Dialogue> dialogues);
    bool Expect(const std::string& expected);

    QuoteServer m_server;
    int m_nPauseMs;
    std::string m_sFailure;
    std::vector<std::string> m_received;
    std::vector<std::string> m_messages;
    std::atomic<int> m_nSteps{0};
    std::atomic<int> m_nDialogues{0};
    std::thread m_thread;
};

}  // namespace test
}  // namespace vantrel
