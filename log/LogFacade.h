// The four reporting functions through which every part of the library
// reports, and the one process-wide file log behind them.
//
// Events go to the file log only. Warnings and errors go to the file log and
// then, with the same text, to the alert handlers (SMS, then mail), also when
// the log cannot be created or written. None of these functions
// returns a result or lets anything escape: a failure while reporting is
// dropped, so that reporting can never disturb the caller.
//
// The log lives in the directory named by VANTREL_LOG_DIR when that is set and
// not empty, otherwise in "REVar" beside the host executable ("/REVar" when
// the executable's path cannot be read). It is created by the first call that
// succeeds; a call that fails to create it writes nothing, and the next call
// tries again.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class Log;

void OutputEvent2Log(const char* text) noexcept;
void OutputEvent2Log(const std::string& text) noexcept;

void OutputWarning2Log(const char* text) noexcept;
void OutputWarning2Log(const std::string& text) noexcept;

// The warning text is `format` with `number`, in signed decimal, in place of
// its first "%d"; the rest of the format is copied unchanged (it is never
// handed to printf). A null format gives the number alone.
void OutputWarningCode2Log(const char* format, int32_t number) noexcept;

// `nCode` is the severity: a smaller number is more severe.
void OutputError2Log(uint32_t nCode, const char* text) noexcept;
void OutputError2Log(uint32_t nCode, const std::string& text) noexcept;

// The process-wide file log, created on first use. Throws FIX::ConfigError
// when it cannot be created (and after the library has begun to unload).
Log& GetFileLog();

// Where the file log is (or would be) created.
std::string LogDirectory();

// The text OutputWarningCode2Log writes.
std::string FormatWarningCode(const char* format, int32_t number);

namespace testing {
// Closes and forgets the process-wide log so that the next facade call
// creates it again. Only for tests: no other thread may be reporting.
void ResetFileLog();
}  // namespace testing

}  // namespace vantrel
