// Starting and stopping the SMTP test server from a Windows test under Wine:
// Wine starts a Linux program like a Windows one, but hands it no pipes and
// the caller no process handle. The server writes its port to a file and
// stops when a stop file appears (or when the test process ends), then says
// so with a file of its own. The openssl runs that make its certificates say
// that they ended with a file too.
#include "tests/support/SmtpTestServer.h"

#include <windows.h>

#include <stdexcept>

#include "tests/support/TestCertificates.h"

namespace vantrel::test {
namespace {

// Wine's own conversions between Linux and Windows paths; absent on Windows.
using ToUnixFn = char*(CDECL*)(const wchar_t*);
using ToDosFn = wchar_t*(CDECL*)(const char*);

template <typename Function>
Function WineEntry(const char* name) {
    const auto entry = reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
    if (entry == nullptr) throw std::runtime_error("the SMTP test server runs only under Wine (no " + std::string(name) + ")");
    return entry;
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return wide;
}

// One argument of a Windows command line, quoted where it needs it.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t nBackslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++nBackslashes;
        } else {
            if (c == '"') quoted.append(nBackslashes + 1, '\\');
            nBackslashes = 0;
        }
        quoted += c;
    }
    quoted.append(nBackslashes, '\\');
    return quoted + "\"";
}

}  // namespace

std::string ServerPath(const std::string& path) {
    char* pUnixPath = WineEntry<ToUnixFn>("wine_get_unix_file_name")(Wide(path).c_str());
    if (pUnixPath == nullptr) throw std::runtime_error("no Linux path for " + path);
    std::string converted(pUnixPath);
    ::HeapFree(::GetProcessHeap(), 0, pUnixPath);
    return converted;
}

namespace {

// Starts the Linux program `program` with `arguments`, without waiting for it.
void StartLinuxProgram(const char* program, const std::vector<std::string>& arguments) {
    wchar_t* pProgram = WineEntry<ToDosFn>("wine_get_dos_file_name")(program);
    if (pProgram == nullptr) throw std::runtime_error("no Windows path for " + std::string(program));
    const std::wstring path(pProgram);
    ::HeapFree(::GetProcessHeap(), 0, pProgram);
    std::string command = program;
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    std::wstring commandLine = Wide(command);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        throw std::runtime_error("cannot start " + command + ": error " + std::to_string(::GetLastError()));
    }
    // The handles Wine hands back for a Linux program are not its own: seen
    // as NULL, -1, or the value of an unrelated handle of this process, which
    // closing them would close. They are left alone.
}

}  // namespace

int SmtpTestServer::Start(const std::vector<std::string>& scriptArguments) {
    const std::string portFile = m_dir / "server.port";
    std::vector<std::string> arguments = {SmtpServerScript()};
    arguments.insert(arguments.end(), scriptArguments.begin(), scriptArguments.end());
    arguments.insert(arguments.end(), {"--port-file", ServerPath(portFile), "--stop-file", ServerPath(m_dir / "server.stop")});
    StartLinuxProgram("/usr/bin/python3", arguments);

    if (!WaitUntil([&] { return FileExists(portFile); })) {
        throw std::runtime_error("the SMTP test server did not start");
    }
    const std::string ready = ReadFile(portFile);
    if (ready.rfind("PORT ", 0) != 0) throw std::runtime_error("the SMTP test server did not start: " + ready);
    return std::stoi(ready.substr(5));
}

void SmtpTestServer::Stop() noexcept {
    try {
        WriteFile(m_dir / "server.stop", "");
        WaitUntil([&] { return FileExists(m_dir / "server.stop.stopped"); });
    } catch (...) {
    }
}

// A shell runs openssl in the directory and writes its exit status to a
// file, which appears only once complete.
void RunOpenSsl(const TempDir& dir, std::vector<std::string> arguments) {
    const std::string status = dir / "openssl.status";
    ::DeleteFileA(status.c_str());
    arguments.insert(arguments.begin(),
                     {"-c", "cd \"$1\" && shift && openssl \"$@\" >>openssl.log 2>&1; "
                            "echo $? >openssl.status.new && mv openssl.status.new openssl.status",
                      "sh", ServerPath(dir.path())});
    StartLinuxProgram("/bin/sh", arguments);
    if (!WaitUntil([&] { return FileExists(status); }) || ReadFile(status) != "0\n") {
        std::string command;
        for (std::size_t i = 4; i < arguments.size(); ++i) command += arguments[i] + " ";
        throw std::runtime_error("failed: openssl " + command + "\n" + ReadFile(dir / "openssl.log"));
    }
}

}  // namespace vantrel::test
