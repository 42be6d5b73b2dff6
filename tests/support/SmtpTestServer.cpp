#include "tests/support/SmtpTestServer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace vantrel::test {

std::string SmtpServerScript() {
    const char* source = std::getenv("VANTREL_TEST_SOURCE_DIR");
    return std::string(source != nullptr ? source : VANTREL_SOURCE_DIR) + "/tests/support/smtp_server.py";
}

std::vector<std::string> ReceivedMail::All(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& fact : facts) {
        if (fact.first == key) values.push_back(fact.second);
    }
    return values;
}

std::string ReceivedMail::First(const std::string& key) const {
    const std::vector<std::string> values = All(key);
    return values.empty() ? "<none>" : values.front();
}

std::string ReceivedMail::Header(const std::string& name) const {
    for (const std::string& header : All("header")) {
        if (header.compare(0, name.size() + 2, name + ": ") == 0) return header.substr(name.size() + 2);
    }
    return "<none>";
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

SmtpTestServer::SmtpTestServer(std::string user, std::string password, std::string auth,
                               std::vector<std::string> extraArguments)
    : m_sUser(std::move(user)), m_sPassword(std::move(password)) {
    std::vector<std::string> arguments = {"--dir", ServerPath(m_dir.path()), "--user", m_sUser, "--password", m_sPassword,
                                          "--auth", auth};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    m_nPort = Start(arguments);
}

SmtpTestServer::~SmtpTestServer() { Stop(); }

std::vector<ReceivedMail> SmtpTestServer::Mails() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
        if (entry.path().extension() == ".txt") names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<ReceivedMail> mails;
    for (const std::string& name : names) {
        ReceivedMail mail;
        for (const std::string& line : ReadLines(name)) {
            const std::string::size_type blank = line.find(' ');
            mail.facts.emplace_back(line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1));
        }
        mails.push_back(std::move(mail));
    }
    return mails;
}

bool SmtpTestServer::WaitForMails(std::size_t count, int timeoutMs) const {
    return WaitUntil([&] { return Mails().size() >= count; }, timeoutMs);
}

}  // namespace vantrel::test
