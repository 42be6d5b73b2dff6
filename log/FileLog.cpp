#include "log/FileLog.h"

#include <new>

#include <quickfix/Exceptions.h>

#include "log/EscapeText.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace {

const char* OpenFailureText(int index) {
    static const char* const texts[] = {"Could not open messages file: ",
                                        "Could not open events file: ",
                                        "Could not open transactions file: "};
    return texts[index];
}

}  // namespace

platform::RecursiveMutex& FileLog::processLock() {
    // Never destroyed, so that logging during unload still finds it; in the
    // library's static storage rather than on the heap, where it would be
    // lost each time a host unloads the library.
    alignas(platform::RecursiveMutex) static unsigned char storage[sizeof(platform::RecursiveMutex)];
    static platform::RecursiveMutex* const pLock = new (storage) platform::RecursiveMutex;
    return *pLock;
}

FileLog::FileLog(const std::string& path, const std::string& prefix) {
    // The throw destroys the members, which closes whatever did open.
    const std::string failure = open(path, prefix);
    if (!failure.empty()) {
        throw FIX::ConfigError(failure);
    }
}

FileLog::~FileLog() { closeAll(); }

std::string FileLog::open(const std::string& path, const std::string& prefix) {
    m_path = path;
    m_prefix = prefix;
    platform::MakeDirectories(path);

    const std::string directory = path.empty() ? std::string(".") : path;
    m_openTime = UtcTime::Now();
    std::string base = directory;
    if (!platform::IsPathSeparator(base.back())) {
        base += platform::kPathSeparator;
    }
    base += prefix + m_openTime.Date() + ".";
    m_messagesFileName = base + "message.log";
    m_eventFileName = base + "event.log";
    m_transactionFileName = base + "transact.log";

    std::string failure;
    const Target targets[] = {Target::Messages, Target::Event, Target::Transaction};
    for (int i = 0; i < 3; ++i) {
        std::ofstream& s = stream(targets[i]);
        s.open(fileName(targets[i]), std::ios::out | std::ios::app);
        if (!s.is_open()) {
            m_nReopenAfterMs[i] = platform::NowUtcMillis() + kReopenIntervalMs;
            if (failure.empty()) failure = OpenFailureText(i) + fileName(targets[i]);
        }
    }
    return failure;
}

void FileLog::closeAll() {
    m_messages.close();
    m_event.close();
    m_transaction.close();
}

void FileLog::clear() {
    std::lock_guard<platform::RecursiveMutex> guard(processLock());
    closeAll();
    const Target targets[] = {Target::Messages, Target::Event, Target::Transaction};
    for (Target t : targets) {
        stream(t).open(fileName(t), std::ios::out | std::ios::trunc);
    }
}

std::ofstream& FileLog::stream(Target target) {
    switch (target) {
        case Target::Messages: return m_messages;
        case Target::Event: return m_event;
        case Target::Transaction: break;
    }
    return m_transaction;
}

const std::string& FileLog::fileName(Target target) const {
    switch (target) {
        case Target::Messages: return m_messagesFileName;
        case Target::Event: return m_eventFileName;
        case Target::Transaction: break;
    }
    return m_transactionFileName;
}

void FileLog::write(Target target, const char* label, const std::string& text, bool bFlush) {
    std::lock_guard<platform::RecursiveMutex> guard(processLock());
    const UtcTime now = UtcTime::Now();
    if (now.nJulianDay != m_openTime.nJulianDay) {
        closeAll();
        open(m_path, m_prefix);  // a file that does not open is tried again below
    }
    std::ofstream& s = stream(target);
    // A file removed from under the log (its directory deleted by a clean-up,
    // say) is made again, directory and all, rather than writing the rest of
    // the day into a file that has no name any more.
    if (s.is_open() && !platform::PathExists(fileName(target))) s.close();
    if (!s.is_open()) {
        // A file that failed to open (at a date change, or while the directory
        // could not be written) is tried again, directory included, rather
        // than losing its lines for the rest of the day, but at most once a
        // second. Until it opens, its lines are dropped and the caller
        // carries on: a warning or error still reaches the alert handlers.
        int64_t& nReopenAfterMs = m_nReopenAfterMs[static_cast<int>(target)];
        const int64_t nNowMs = platform::NowUtcMillis();
        if (nNowMs < nReopenAfterMs && nNowMs > nReopenAfterMs - kReopenIntervalMs) {
            return;
        }
        nReopenAfterMs = nNowMs + kReopenIntervalMs;
        s.clear();
        platform::MakeDirectories(m_path);
        s.open(fileName(target), std::ios::out | std::ios::app);
        if (!s.is_open()) {
            return;
        }
    }
    std::string line;
    line.reserve(4 + 1 + 17 + 24 + text.size() + 1);
    line += "[LR]<";
    line += now.Stamp();
    line += label;
    AppendEscaped(line, text);
    line += '\n';
    s.write(line.data(), static_cast<std::streamsize>(line.size()));
    s.flush();
    if (bFlush) {
        s.flush();
    }
    // A failed write (disk full) is not reported; clear the state so that the
    // next line is tried.
    s.clear();
}

void FileLog::onEvent(const std::string& t, bool f) { write(Target::Event, ", event>: ", t, f); }
void FileLog::onIncoming(const std::string& t, bool f) { write(Target::Messages, ", incoming>: ", t, f); }
void FileLog::onOutgoing(const std::string& t, bool f) { write(Target::Messages, ", outgoing>: ", t, f); }
void FileLog::onMTIncoming(const std::string& t, bool f) { write(Target::Event, ", MT incoming>: ", t, f); }
void FileLog::onMTOutgoing(const std::string& t, bool f) { write(Target::Event, ", MT outgoing>: ", t, f); }
void FileLog::onBankIncoming(const std::string& t, bool f) { write(Target::Event, ", Bank incoming>: ", t, f); }
void FileLog::onBankOutgoing(const std::string& t, bool f) { write(Target::Event, ", Bank outgoing>: ", t, f); }
void FileLog::onWarning(const std::string& t, bool f) { write(Target::Event, ", Warning>: ", t, f); }
void FileLog::onTransaction(const std::string& t, bool f) { write(Target::Transaction, ", Transaction>: ", t, f); }

void FileLog::onError(uint32_t nCode, const std::string& t, bool f) {
    const std::string label = ", Error (" + std::to_string(nCode) + ")>: ";
    write(Target::Event, label.c_str(), t, f);
}

}  // namespace vantrel
