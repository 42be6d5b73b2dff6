#include "notify/HeaderFolding.h"

namespace vantrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string FoldHeader(std::string_view name, std::string_view value) {
    std::string line(name.data(), name.size());
    line += ": ";
    for (const char c : value) line += c == '\r' || c == '\n' || c == '\0' ? ' ' : c;

    // Segments are a run of blanks and the word after it; a break goes in
    // only before a segment, so that every line holds a word.
    std::string folded;
    folded.reserve(line.size() + line.size() / 32 + 2);
    std::size_t nLineStart = 0;  // in `folded`
    std::size_t i = name.size() + 1;
    folded.append(line, 0, i);
    while (i < line.size()) {
        std::size_t end = i;
        while (end < line.size() && IsBlank(line[end])) ++end;
        while (end < line.size() && !IsBlank(line[end])) ++end;
        // Blanks that end the value stay with the word before them.
        std::size_t next = end;
        while (next < line.size() && IsBlank(line[next])) ++next;
        if (next == line.size()) end = next;

        // The field name counts as the first line's word: a value whose first
        // word does not fit after it starts on the next line.
        const bool bHasWord = line.find_first_not_of(" \t", i) < end;
        if (bHasWord && folded.size() > nLineStart && folded.size() - nLineStart + (end - i) > kHeaderLineGoal) {
            folded += "\r\n";
            nLineStart = folded.size();
        }
        folded.append(line, i, end - i);
        i = end;
    }
    return folded + "\r\n";
}

std::string UnfoldHeader(std::string_view folded) {
    std::string text;
    text.reserve(folded.size());
    for (std::size_t i = 0; i < folded.size(); ++i) {
        if (folded[i] == '\r' && i + 1 < folded.size() && folded[i + 1] == '\n' &&
            (i + 2 == folded.size() || IsBlank(folded[i + 2]))) {
            ++i;
            continue;
        }
        text += folded[i];
    }
    return text;
}

}  // namespace vantrel
