#include "fix/Fix44Dictionary.h"

#include <atomic>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fix/EmbeddedDictionary.h"

namespace vantrel {
namespace fix {
namespace {

std::mutex g_loadMutex;
std::atomic<bool> g_bLoaded{false};
std::atomic<std::size_t> g_nParseCount{0};

FIX::DataDictionary& Dictionary() {
    static FIX::DataDictionary dictionary;
    return dictionary;
}

// The values of one attribute wherever it appears in the XML text, e.g. every
// msgtype="..." or every name="..." of a <group> element.
std::set<std::string> AttributeValues(const std::string& xml, const std::string& element,
                                      const std::string& attribute) {
    std::set<std::string> values;
    const std::string open = "<" + element + " ";
    const std::string key = attribute + "=\"";
    for (std::string::size_type at = xml.find(open); at != std::string::npos;
         at = xml.find(open, at + 1)) {
        const std::string::size_type close = xml.find('>', at);
        const std::string::size_type k = xml.find(key, at);
        if (k == std::string::npos || k > close) continue;
        const std::string::size_type begin = k + key.size();
        const std::string::size_type end = xml.find('"', begin);
        if (end == std::string::npos) break;
        values.insert(xml.substr(begin, end - begin));
    }
    return values;
}

void WarmGroups(const FIX::DataDictionary& dd, const std::string& msgType,
                const std::vector<int>& groupTags, int depth) {
    for (int tag : groupTags) {
        int delim = 0;
        const FIX::DataDictionary* group = nullptr;
        if (dd.getGroup(msgType, tag, delim, group) && group != nullptr) {
            group->getOrderedFields();
            if (depth < 8) WarmGroups(*group, msgType, groupTags, depth + 1);
        }
    }
}

// Computes, once, the lazily built field order of every group definition the
// dictionary holds: for every message type, the header and the trailer, and
// for groups nested in groups.
void WarmUp(const FIX::DataDictionary& dd, const std::string& xml) {
    std::vector<int> groupTags;
    for (const std::string& name : AttributeValues(xml, "group", "name")) {
        int tag = 0;
        if (dd.getFieldTag(name, tag)) groupTags.push_back(tag);
    }
    std::set<std::string> msgTypes = AttributeValues(xml, "message", "msgtype");
    msgTypes.insert("_header_");
    msgTypes.insert("_trailer_");
    for (const std::string& msgType : msgTypes) {
        WarmGroups(dd, msgType, groupTags, 0);
    }
    dd.getOrderedFields();
}

}  // namespace

const FIX::DataDictionary& GetFix44DataDictionary() {
    FIX::DataDictionary& dictionary = Dictionary();
    if (g_bLoaded.load(std::memory_order_acquire)) {
        return dictionary;
    }
    std::lock_guard<std::mutex> guard(g_loadMutex);
    if (!g_bLoaded.load(std::memory_order_relaxed)) {
        const ByteSpan bytes = EmbeddedFix44DictionaryXml();
        const std::string xml(bytes.pData, bytes.nSize);
        std::istringstream stream(xml);
        g_nParseCount.fetch_add(1);
        FIX::DataDictionary loaded(stream);
        dictionary = loaded;
        WarmUp(dictionary, xml);
        g_bLoaded.store(true, std::memory_order_release);
    }
    return dictionary;
}

std::size_t Fix44DictionaryParseCount() noexcept { return g_nParseCount.load(); }

}  // namespace fix
}  // namespace vantrel
