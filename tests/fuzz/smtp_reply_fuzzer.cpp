// The SMTP reply reader over arbitrary byte streams cut at arbitrary points:
// after every piece, the replies handed out must be exactly the complete
// replies of the bytes received so far, as a reference that reads the whole
// buffer at once finds them (never early, never late, nothing left behind),
// and the rest must be pending.
//
// Input: byte 0 picks the reply limit (small limits reach the too-long case),
// byte 1 seeds the piece sizes, the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::size_t limit = data[0] < 128 ? 1 + data[0] : vantrel::CSMTPReplyReader::kMaxReplyLength;
    uint32_t random = data[1] * 2654435761u + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    vantrel::CSMTPReplyReader reader(limit);
    std::vector<std::string> replies;
    bool bTooLong = false;
    std::size_t fed = 0;
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
        const Reference ref = Read(stream.substr(0, fed), limit);
        if (ref.replies != replies || ref.bTooLong != bTooLong) std::abort();
        if (!bTooLong && reader.Pending() != ref.pending) std::abort();
    }
    return 0;
}
