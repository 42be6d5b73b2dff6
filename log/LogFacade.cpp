#include "log/LogFacade.h"

#include <atomic>
#include <mutex>

#include <quickfix/Exceptions.h>

#include "config/CfgSettingHandler.h"
#include "log/FileLog.h"
#include "notify/MailHandler.h"
#include "notify/SMSHandler.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace {

// The log pointer is read and written only under FileLog::processLock(), the
// same lock every write holds. That makes creation happen once however many
// threads race for it, and lets unload destroy the log without a writer still
// using it.
FileLog* g_pFileLog = nullptr;
bool g_bUnloaded = false;

// Destroys the log when the library is unloaded (or the process exits).
struct FileLogOwner {
    ~FileLogOwner() {
        std::lock_guard<platform::RecursiveMutex> guard(FileLog::processLock());
        delete g_pFileLog;
        g_pFileLog = nullptr;
        g_bUnloaded = true;
    }
} g_fileLogOwner;

// Whether error lines are flushed a second time: the "FlushFlag" setting
// (default false). Read before the file log's lock is taken, because reading
// it may load the settings file and log that the key is absent.
bool ErrorFlushFlag() noexcept { return FlushFlagSetting().Get(); }

const char* NonNull(const char* text) { return text ? text : ""; }

}  // namespace

std::string LogDirectory() {
    std::string directory = platform::GetEnvironment("VANTREL_LOG_DIR");
    if (!directory.empty()) {
        return directory;
    }
    directory = platform::ExecutableDirectory();
    if (directory.empty() || !platform::IsPathSeparator(directory.back())) {
        directory += platform::kPathSeparator;
    }
    return directory + "REVar";
}

Log& GetFileLog() {
    std::lock_guard<platform::RecursiveMutex> guard(FileLog::processLock());
    if (g_pFileLog == nullptr) {
        if (g_bUnloaded) {
            throw FIX::ConfigError("the log is closed");
        }
        g_pFileLog = new FileLog(LogDirectory());
    }
    return *g_pFileLog;
}

std::string FormatWarningCode(const char* format, int32_t number) {
    const std::string value = std::to_string(number);
    if (format == nullptr) {
        return value;
    }
    std::string text(format);
    const std::string::size_type at = text.find("%d");
    if (at != std::string::npos) {
        text.replace(at, 2, value);
    }
    return text;
}

void OutputEvent2Log(const char* text) noexcept {
    try {
        std::lock_guard<platform::RecursiveMutex> guard(FileLog::processLock());
        GetFileLog().onEvent(NonNull(text), true);
    } catch (...) {
    }
}

void OutputWarning2Log(const char* text) noexcept {
    try {
        std::lock_guard<platform::RecursiveMutex> guard(FileLog::processLock());
        GetFileLog().onWarning(NonNull(text), true);
    } catch (...) {
        // A log that cannot be written must not silence the alert as well.
    }
    try {
        // The alert handlers come after the file log and outside its lock:
        // they take locks of their own and log through this facade. The SMS
        // handler comes first, the mail handler after it.
        GetSMSHandler().OnWarning(NonNull(text));
        GetMailHandler().OnWarning(NonNull(text));
    } catch (...) {
    }
}

void OutputWarningCode2Log(const char* format, int32_t number) noexcept {
    try {
        OutputWarning2Log(FormatWarningCode(format, number));
    } catch (...) {
    }
}

void OutputError2Log(uint32_t nCode, const char* text) noexcept {
    try {
        const bool bFlush = ErrorFlushFlag();
        std::lock_guard<platform::RecursiveMutex> guard(FileLog::processLock());
        GetFileLog().onError(nCode, NonNull(text), bFlush);
    } catch (...) {
        // As for warnings: the alert still goes out.
    }
    try {
        // Outside the file log's lock, SMS first, as for warnings.
        GetSMSHandler().OnError(nCode, NonNull(text));
        GetMailHandler().OnError(nCode, NonNull(text));
    } catch (...) {
    }
}

void OutputEvent2Log(const std::string& text) noexcept { OutputEvent2Log(text.c_str()); }
void OutputWarning2Log(const std::string& text) noexcept { OutputWarning2Log(text.c_str()); }
void OutputError2Log(uint32_t nCode, const std::string& text) noexcept {
    OutputError2Log(nCode, text.c_str());
}

namespace testing {

void ResetFileLog() {
    std::lock_guard<platform::RecursiveMutex> guard(FileLog::processLock());
    delete g_pFileLog;
    g_pFileLog = nullptr;
}

}  // namespace testing
}  // namespace vantrel
