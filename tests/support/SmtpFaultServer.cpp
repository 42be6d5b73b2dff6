#include "tests/support/SmtpFaultServer.h"

namespace vantrel::test {

SmtpFaultServer::SmtpFaultServer(std::vector<Dialogue> dialogues, int pauseMs)
    : m_nPauseMs(pauseMs), m_thread([this, dialogues = std::move(dialogues)] { Play(dialogues); }) {}

SmtpFaultServer::~SmtpFaultServer() { Finish(); }

bool SmtpFaultServer::Finish() {
    if (m_thread.joinable()) m_thread.join();
    return m_sFailure.empty();
}

bool SmtpFaultServer::Expect(const std::string& expected) {
    std::string line;
    if (expected == kData) {
        std::string message;
        while (m_server.ReadLine(line) && line != ".\r") message += line + "\n";
        if (line != ".\r") return false;
        m_messages.push_back(message);
        return true;
    }
    return m_server.ReadLine(line) && (expected == kAnyLine || line.compare(0, expected.size(), expected) == 0);
}

void SmtpFaultServer::Play(std::vector<Dialogue> dialogues) {
    for (std::size_t d = 0; d < dialogues.size() && m_sFailure.empty(); ++d) {
        if (!m_server.Accept()) {
            m_sFailure = "no connection for dialogue " + std::to_string(d);
            break;
        }
        for (const Step& step : dialogues[d]) {
            if (!step.expect.empty() && !Expect(step.expect)) {
                m_sFailure = "dialogue " + std::to_string(d) + ": expected " + step.expect + ", received " +
                             m_server.Received();
                break;
            }
            ++m_nSteps;
            // A client that has gone gets no more segments.
            for (std::size_t s = 0; s < step.segments.size(); ++s) {
                if (s > 0) {
                    if (!m_server.WaitUntilDelivered(1000)) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(m_nPauseMs));
                }
                if (!m_server.Send(step.segments[s])) break;
            }
            if (step.then == Then::Close) m_server.Close();
            if (step.then == Then::Reset) m_server.Reset();
            if (step.then == Then::Silence) m_server.WaitForClientClose();
            if (step.then != Then::Continue) break;
        }
        m_received.push_back(m_server.Received());
        ++m_nDialogues;
    }
    m_server.Close();
}

SmtpFaultServer::Dialogue SmtpFaultServer::LoggedIn() {
    return {{"", {"220 fault.test ESMTP\r\n"}},
            {"EHLO ", {"250-fault.test\r\n250-AUTH LOGIN\r\n250 HELP\r\n"}},
            {"AUTH LOGIN", {"334 VXNlcm5hbWU6\r\n"}},
            {kAnyLine, {"334 UGFzc3dvcmQ6\r\n"}},
            {kAnyLine, {"235 2.7.0 Authentication successful\r\n"}}};
}

SmtpFaultServer::Dialogue SmtpFaultServer::Transaction(int recipients) {
    Dialogue steps = {{"MAIL FROM:<", {"250 OK\r\n"}}};
    for (int i = 0; i < recipients; ++i) steps.push_back({"RCPT TO:<", {"250 OK\r\n"}});
    steps.push_back({"DATA", {"354 End data with <CR><LF>.<CR><LF>\r\n"}});
    steps.push_back({kData, {"250 OK queued\r\n"}});
    return steps;
}

SmtpFaultServer::Step SmtpFaultServer::Quit() { return {"QUIT", {"221 Bye\r\n"}, Then::Close}; }

SmtpFaultServer::Dialogue SmtpFaultServer::Join(std::vector<Dialogue> parts) {
    Dialogue joined;
    for (Dialogue& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

}  // namespace vantrel::test
