// The dated file log: three files in one directory, named after the UTC date
// on which they were opened, switched to a new set at the first write after the
// date changes.
//
//   <dir>/<prefix>YYYYMMDD.message.log   onIncoming, onOutgoing
//   <dir>/<prefix>YYYYMMDD.event.log     onEvent, onMT*, onBank*, onError, onWarning
//   <dir>/<prefix>YYYYMMDD.transact.log  onTransaction
//
// Each line is "[LR]<YYYYMMDD-HH:MM:SS" + label + text + a line end, the time
// in UTC. The text is written with its control characters escaped (CR as \r,
// LF as \n, other bytes below 0x20 and DEL as \xNN), so every entry is one
// line. The files are opened in text mode: a line ends with LF on Linux and
// with CR LF on Windows.
// One process-wide recursive lock serialises every write and clear() of every
// FileLog, so lines from different threads never interleave. Writes never
// throw: a line whose file cannot be opened is dropped, and the file is tried
// again at most once a second.
#pragma once

#include <fstream>
#include <string>

#include "log/Log.h"
#include "log/UtcTime.h"
#include "platform/Sync.h"

namespace vantrel {

class FileLog final : public Log {
public:
    // Creates the directory (mkdir -p) and opens the three files for
    // appending. Throws FIX::ConfigError ("Could not open messages file: "
    // and the name, likewise "events" and "transactions") when a file cannot
    // be opened; the files that did open are closed again.
    explicit FileLog(const std::string& path, const std::string& prefix = "GLOBAL");
    ~FileLog() override;

    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

    void clear() override;
    void onEvent(const std::string& text, bool bFlush) override;
    void onIncoming(const std::string& text, bool bFlush) override;
    void onOutgoing(const std::string& text, bool bFlush) override;
    void onMTIncoming(const std::string& text, bool bFlush) override;
    void onMTOutgoing(const std::string& text, bool bFlush) override;
    void onBankIncoming(const std::string& text, bool bFlush) override;
    void onBankOutgoing(const std::string& text, bool bFlush) override;
    void onError(uint32_t nCode, const std::string& text, bool bFlush) override;
    void onWarning(const std::string& text, bool bFlush) override;
    void onTransaction(const std::string& text, bool bFlush) override;

    const std::string& messagesFileName() const { return m_messagesFileName; }
    const std::string& eventFileName() const { return m_eventFileName; }
    const std::string& transactionFileName() const { return m_transactionFileName; }

    // The lock shared by every FileLog of the process. It lives for the whole
    // process (it is never destroyed), so a line logged while the library is
    // being unloaded still finds it.
    static platform::RecursiveMutex& processLock();

private:
    enum class Target { Messages, Event, Transaction };

    // Opens the three files of the current date; the failure text of the
    // first that did not open, or empty.
    std::string open(const std::string& path, const std::string& prefix);
    void closeAll();
    void write(Target target, const char* label, const std::string& text, bool bFlush);
    std::ofstream& stream(Target target);
    const std::string& fileName(Target target) const;

    std::ofstream m_messages;
    std::ofstream m_event;
    std::ofstream m_transaction;
    std::string m_messagesFileName;
    std::string m_eventFileName;
    std::string m_transactionFileName;
    std::string m_path;
    std::string m_prefix;
    UtcTime m_openTime;
    // Per file (in Target order): no new attempt to open it before this time.
    static constexpr int64_t kReopenIntervalMs = 1000;
    int64_t m_nReopenAfterMs[3] = {0, 0, 0};
};

}  // namespace vantrel
