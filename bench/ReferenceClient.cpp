#include "bench/ReferenceClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "fix/QuoteDecoding.h"

namespace vantrel {
namespace bench {
namespace reference {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(1000);
constexpr int kMaxLine = 1000;

std::mutex g_sessionMutex;
std::atomic<int32_t> g_nSessions{0};
std::atomic<uint8_t> g_bLogoffRequested{0};
std::atomic<uint8_t> g_bThreadState{0};
std::atomic<uint64_t> g_nStored{0};
int g_socket = -1;
std::thread g_thread;

// The store: message texts by symbol under one mutex.
std::mutex g_storeMutex;
std::map<std::string, std::string> g_quotes;
std::atomic<bool> g_bActive{false};

bool Store(const std::string& payload) {
    if (!g_bActive.load()) return false;
    const std::string symbol = fix::SymbolOfPayload(payload);
    std::lock_guard<std::mutex> guard(g_storeMutex);
    g_quotes[symbol] = payload;
    g_nStored.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// One line, one byte per receive: CR dropped, LF ends it, at most kMaxLine
// characters. False when the connection ends.
bool ReadString(int fd, char* buffer) {
    int count = 0;
    while (count < kMaxLine) {
        const ssize_t n = ::recv(fd, buffer + count, 1, 0);
        if (n != 1) return false;
        if (buffer[count] == '\n') break;
        if (buffer[count] != '\r') ++count;
    }
    buffer[count] = '\0';
    return true;
}

bool SendString(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

void QuotesThread(std::string login, std::string password) {
    char line[kMaxLine + 1];
    if (!SendString(g_socket, login + "\r\n" + password + "\r\n") || !ReadString(g_socket, line) ||
        std::strstr(line, "#1 Login granted") == nullptr) {
        ::close(g_socket);
        g_socket = -1;
        g_nSessions.fetch_sub(1);
        g_bThreadState.store(0);
        return;
    }
    g_bThreadState.store(0);
    g_bActive.store(true);
    while (!g_bLogoffRequested.load()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(g_socket, &readable);
        timeval timeout{0, 1};
        const int ready = ::select(g_socket + 1, &readable, nullptr, nullptr, &timeout);
        if (ready < 0) break;
        if (ready == 0) continue;
        if (!ReadString(g_socket, line)) break;
        if (const char* marker = std::strstr(line, "[QT]")) {
            try {
                Store(marker + 4);
            } catch (...) {
                // a payload that does not check is skipped
            }
        }
    }
    g_bActive.store(false);
    {
        std::lock_guard<std::mutex> guard(g_storeMutex);
        g_quotes.clear();
    }
    ::close(g_socket);
    g_socket = -1;
    g_bThreadState.store(1);
}

// The walk of the queries over a freshly decoded message, writing straight
// into the caller's arrays.
struct SideWalk final : fix::MDEntryVisitor {
    int nCapacity[2] = {0, 0};
    int nIndex[2] = {-1, -1};
    bool bFull[2] = {false, false};
    double* pPrices[2] = {nullptr, nullptr};
    double* pSizes[2] = {nullptr, nullptr};

    bool onEntry(char cType, double dPx, double dSize) override {
        if (cType == '0' || cType == '1') {
            const int side = cType - '0';
            if (++nIndex[side] < nCapacity[side]) {
                pPrices[side][nIndex[side]] = dPx;
                pSizes[side][nIndex[side]] = dSize * 0.000001;
            } else {
                bFull[side] = true;
            }
        }
        return !(bFull[0] && bFull[1]);
    }
};

// Copies the stored text of the symbol (the smallest one for an empty
// symbol, which is then written back) under the store's mutex. Empty when
// nothing is stored.
std::string FindText(char* symbol) {
    std::lock_guard<std::mutex> guard(g_storeMutex);
    if (!g_bActive.load() || g_quotes.empty()) return std::string();
    const auto it = symbol[0] != '\0' ? g_quotes.find(symbol) : g_quotes.begin();
    if (it == g_quotes.end()) return std::string();
    if (symbol[0] == '\0') std::memcpy(symbol, it->first.c_str(), it->first.size() + 1);
    return it->second;
}

bool Decode(const std::string& text, SideWalk& walk) {
    try {
        fix::DecodeMarketDataEntries(text, walk);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

int Login(const char* host, int port, const char* login, const char* password) {
    std::lock_guard<std::mutex> guard(g_sessionMutex);
    const int32_t n = g_nSessions.fetch_add(1) + 1;
    if (n > 1) return 0;
    if (g_thread.joinable()) g_thread.join();
    g_bThreadState.store(1);
    g_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host, &address.sin_addr);
    ::connect(g_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    g_thread = std::thread(QuotesThread, std::string(login), std::string(password));
    while (g_bThreadState.load() != 0) std::this_thread::sleep_for(kPollInterval);
    return g_nSessions.load() == n ? 1 : -1;
}

int Logoff() {
    std::lock_guard<std::mutex> guard(g_sessionMutex);
    if (g_nSessions.load() == 0) return 0;
    if (g_nSessions.fetch_sub(1) - 1 != 0) return 1;
    g_bLogoffRequested.store(1);
    while (g_bThreadState.load() == 0) std::this_thread::sleep_for(kPollInterval);
    g_thread.join();
    g_bLogoffRequested.store(0);
    return 1;
}

int GetLastQuotes(char* symbol, int* pnBidCount, double* pBidPrices, double* pBidSizes, int* pnOfferCount,
                  double* pOfferPrices, double* pOfferSizes) {
    if (g_nSessions.load() == 0) return -2;
    if (symbol == nullptr || pnBidCount == nullptr || pnOfferCount == nullptr || *pnBidCount <= 0 ||
        *pnOfferCount <= 0 || pBidPrices == nullptr || pBidSizes == nullptr || pOfferPrices == nullptr ||
        pOfferSizes == nullptr) {
        return -1;
    }
    const std::string text = FindText(symbol);
    if (text.empty()) return 0;
    SideWalk walk;
    walk.nCapacity[0] = *pnBidCount;
    walk.nCapacity[1] = *pnOfferCount;
    walk.pPrices[0] = pBidPrices;
    walk.pSizes[0] = pBidSizes;
    walk.pPrices[1] = pOfferPrices;
    walk.pSizes[1] = pOfferSizes;
    if (!Decode(text, walk)) return 0;
    *pnBidCount = walk.nIndex[0] + 1;
    *pnOfferCount = walk.nIndex[1] + 1;
    return 1;
}

int GetLastNQuotes(char* symbol, int n, double* pBidPrices, double* pBidSizes, double* pOfferPrices,
                   double* pOfferSizes) {
    if (g_nSessions.load() == 0) return -2;
    if (symbol == nullptr || n <= 0 || pBidPrices == nullptr || pBidSizes == nullptr || pOfferPrices == nullptr ||
        pOfferSizes == nullptr) {
        return -1;
    }
    const std::string text = FindText(symbol);
    if (text.empty()) return 0;
    for (double* array : {pBidPrices, pBidSizes, pOfferPrices, pOfferSizes}) std::fill(array, array + n, 0.0);
    SideWalk walk;
    walk.nCapacity[0] = walk.nCapacity[1] = n;
    walk.pPrices[0] = pBidPrices;
    walk.pSizes[0] = pBidSizes;
    walk.pPrices[1] = pOfferPrices;
    walk.pSizes[1] = pOfferSizes;
    return Decode(text, walk) ? 1 : 0;
}

uint64_t StoredCount() { return g_nStored.load(); }

bool SetQuotes(const char* payload) {
    try {
        return Store(payload);
    } catch (...) {
        return false;
    }
}

}  // namespace reference
}  // namespace bench
}  // namespace vantrel
