// The SMTP reply reader over arbitrary byte streams cut at arbitrary points:
// after every piece, the replies handed out must be exactly the complete
// replies of the bytes received so far, as a reference that reads the whole
// buffer at once finds them (never early, never late, nothing left behind),
// and the rest must be pending. Each reply handed out, and what is pending,
// then has the password cut out as the client does before quoting it: no form
// of the password may be left (when the password has no "*", the character
// that replaces it), and an empty password must leave the text as it was.
//
// Input: byte 0 picks the reply limit (small limits reach the too-long case),
// byte 1 seeds the piece sizes and gives the lengths of the password (low
// bits) and the user name (high bits), which are taken from the start of the
// stream; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "notify/MailEncoding.h"
#include "notify/PasswordRedaction.h"
#include "notify/SMTPReplyReader.h"

namespace {

struct Reference {
    std::vector<std::string> replies;
    bool bTooLong = false;
    std::string pending;
};

bool IsContinuation(std::string_view line) {
    if (line.size() < 4 || line[3] != '-') return false;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
    }
    return true;
}

// Reads `stream` whole, line by line.
Reference Read(std::string_view stream, std::size_t limit) {
    Reference ref;
    std::size_t begin = 0, line = 0;
    for (;;) {
        const std::size_t lf = stream.find('\n', line);
        if (lf == std::string_view::npos) {
            ref.bTooLong = stream.size() - begin > limit;
            if (!ref.bTooLong) ref.pending = std::string(stream.substr(begin));
            return ref;
        }
        if (lf + 1 - begin > limit) {
            ref.bTooLong = true;
            return ref;
        }
        const std::string_view text = stream.substr(line, lf - line);
        if (IsContinuation(text)) {
            line = lf + 1;
            continue;
        }
        std::size_t end = lf;
        if (!text.empty() && text.back() == '\r') --end;
        ref.replies.emplace_back(stream.substr(begin, end - begin));
        begin = line = lf + 1;
    }
}

std::string Unpadded(std::string encoded) {
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    return encoded;
}

void CheckRedaction(std::string_view text, std::string_view user, std::string_view password) {
    const std::string redacted = vantrel::RedactPassword(text, user, password);
    if (password.empty()) {
        if (redacted != text) std::abort();
        return;
    }
    if (password.find('*') != std::string_view::npos) return;
    std::string plain(1, '\0');
    plain.append(user.data(), user.size());
    plain += '\0';
    plain.append(password.data(), password.size());
    const std::string forms[] = {std::string(password), Unpadded(vantrel::Base64Encode(password)),
                                 Unpadded(vantrel::Base64Encode(plain)), plain};
    for (const std::string& form : forms) {
        if (!form.empty() && redacted.find(form) != std::string::npos) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::size_t limit = data[0] < 128 ? 1 + data[0] : vantrel::CSMTPReplyReader::kMaxReplyLength;
    uint32_t random = data[1] * 2654435761u + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string_view password = stream.substr(0, data[1] % 9);
    const std::string_view user = stream.substr(password.size(), (data[1] >> 4) % 6);

    vantrel::CSMTPReplyReader reader(limit);
    std::vector<std::string> replies;
    bool bTooLong = false;
    std::size_t fed = 0, checked = 0;
    while (fed < stream.size() && !bTooLong) {
        random = random * 1103515245u + 12345u;
        const std::size_t piece = 1 + (random >> 16) % 64;
        const std::size_t n = piece < stream.size() - fed ? piece : stream.size() - fed;
        reader.Append(stream.substr(fed, n));
        fed += n;
        std::string reply;
        for (;;) {
            const vantrel::CSMTPReplyReader::Status status = reader.Next(reply);
            if (status == vantrel::CSMTPReplyReader::Status::Complete) {
                replies.push_back(reply);
                continue;
            }
            bTooLong = status == vantrel::CSMTPReplyReader::Status::TooLong;
            break;
        }
        for (; checked < replies.size(); ++checked) CheckRedaction(replies[checked], user, password);
        CheckRedaction(reader.Pending(), user, password);
        const Reference ref = Read(stream.substr(0, fed), limit);
        if (ref.replies != replies || ref.bTooLong != bTooLong) std::abort();
        if (!bTooLong && reader.Pending() != ref.pending) std::abort();
    }
    return 0;
}
