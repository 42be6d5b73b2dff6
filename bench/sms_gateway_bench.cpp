// What a slow SMS gateway costs the threads that log.
//
//   sms_gateway_bench [block-ms]      (default 10000)
//
// SMS alerts are sent on the thread that logs, one at a time. A first thread
// logs an error that is sent, and the gateway takes a long time; while it is
// inside the gateway a second thread logs an event, a warning and an error
// that the settings do not send, and finally an error that is sent. The
// program prints how long each of those calls took.
//
// Two gateways: the recording test gateway told to block for block-ms, and,
// when built, vantrel-sms-http (default time-outs) posting to a loopback port
// that accepts connections and never answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "config/Config.h"
#include "log/LogFacade.h"
#include "notify/SMSHandler.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

double SecondsOf(void (*action)()) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Starts the handler afresh on `gateway` and sets it up with a warning that is
// not sent, so that the set-up is not part of any figure.
void SetUp(const char* gateway, const std::string& record) {
    ::setenv("VANTREL_SMS_GATEWAY", gateway, 1);
    std::remove(record.c_str());
    testing::ResetSMSHandler();
    testing::ResetConfigStore();
    OutputWarning2Log("set-up (warnings are not sent)");
}

// Runs `first` on a thread; once `inside` holds (the first thread is in the
// gateway), times the calls of the second thread.
template <typename Inside>
void Measure(const char* label, Inside inside) {
    double firstSeconds = 0;
    std::thread first([&] { firstSeconds = SecondsOf([] { OutputError2Log(1, "first thread, sent"); }); });
    while (!inside()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::printf("%s\n", label);
    std::printf("  second thread, event:                          %7.3f s\n",
                SecondsOf([] { OutputEvent2Log("second thread, event"); }));
    std::printf("  second thread, warning (warnings not sent):    %7.3f s\n",
                SecondsOf([] { OutputWarning2Log("second thread, warning"); }));
    std::printf("  second thread, error above the threshold:      %7.3f s\n",
                SecondsOf([] { OutputError2Log(2, "second thread, not sent"); }));
    std::printf("  second thread, error sent:                     %7.3f s\n",
                SecondsOf([] { OutputError2Log(1, "second thread, sent"); }));
    first.join();
    std::printf("  first thread, error sent:                      %7.3f s\n", firstSeconds);
}

// A loopback port whose connections the kernel accepts and nobody answers.
struct SilentPort {
    SilentPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(m_fd, 16);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_nPort = ntohs(address.sin_port);
    }
    ~SilentPort() { ::close(m_fd); }
    int m_fd = -1;
    int m_nPort = 0;
};

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    using namespace vantrel;
    const long nBlockMs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    test::TempDir dir;
    const std::string config = dir / "vantrel.cfg";
    const std::string record = dir / "gateway.record";
    test::WriteFile(config, "[DEFAULT]\nFlushFlag=N\nSMSSendSMS=Y\nSMSAPIID=bench\nSMSUsername=bench\n"
                            "SMSPassword=bench\nSMSToMobileNumber=+4411\nSMSSendErrors=Y\n"
                            "SMSErrorsSeverityCode=1\nSMSSendWarnings=N\n");
    ::setenv("VANTREL_CONFIG", config.c_str(), 1);
    ::setenv("VANTREL_LOG_DIR", (dir / "log").c_str(), 1);
    ::setenv("VANTREL_TEST_SMS_RECORD", record.c_str(), 1);
    ::setenv("VANTREL_TEST_SMS_BLOCK_MS", std::to_string(nBlockMs).c_str(), 1);

    std::printf("one number; errors up to code 1 and no warnings are sent\n\n");
    SetUp(VANTREL_RECORDING_GATEWAY, record);
    const std::string label = "gateway blocking " + std::to_string(nBlockMs) + " ms in every send:";
    Measure(label.c_str(), [&] { return test::ReadFile(record).find("\nsend") != std::string::npos; });

#ifdef VANTREL_SMS_HTTP_GATEWAY
    SilentPort silent;
    const std::string url = "http://127.0.0.1:" + std::to_string(silent.m_nPort) + "/sms";
    ::setenv("VANTREL_SMS_HTTP_URL", url.c_str(), 1);
    SetUp(VANTREL_SMS_HTTP_GATEWAY, record);
    // vantrel-sms-http leaves no trace of its own: the second thread starts
    // 200 ms after the first, well inside the first one's time-out.
    std::printf("\n");
    Measure("vantrel-sms-http (default time-outs), server never answers:", [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return true;
    });
#endif
    testing::ResetSMSHandler();
    return 0;
}
