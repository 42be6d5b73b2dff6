// vantrel-sms-http: an SMS gateway plug-in that posts each message to an
// HTTP(S) service.
//
// Every send is one POST to the URL in VANTREL_SMS_HTTP_URL with the body
//   {"api_id":"<SMSAPIID>","number":"<number>","text":"<alert>"}
// (JSON, UTF-8, Content-Type application/json) and the user name and password
// as HTTP basic authentication. A 2xx status is success (result 0, reply
// "HTTP <status>"); any other status gives result 1 and the reply
// "HTTP <status>"; no answer, a time-out or a failed connection gives result 2
// and libcurl's description of the failure. The password never appears in a
// reply. Redirects are not followed: they would carry the credentials to
// another address.
//
// Time-outs, read when the library creates the gateway, in milliseconds
// (1 to 60000):
//   VANTREL_SMS_HTTP_CONNECT_TIMEOUT_MS  connecting, name look-up included
//                                        (default 3000)
//   VANTREL_SMS_HTTP_TIMEOUT_MS          the whole request (default 5000)
// A URL that is missing or not http:// or https://, or a time-out value that
// is not a whole number in range, makes the factory refuse: the library then
// logs that the gateway could not be created.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include <curl/curl.h>
#include <pthread.h>

#include "vantrel/sms_gateway.h"

namespace {

constexpr long kDefaultConnectTimeoutMs = 3000;
constexpr long kDefaultTotalTimeoutMs = 5000;
constexpr long kMaxTimeoutMs = 60000;

// Result codes of send, beyond 0 for an accepted message.
constexpr int kHttpError = 1;
constexpr int kTransportError = 2;
constexpr int kInternalError = 3;

// A time-out from the environment: `fallback` when unset or empty, false when
// not a whole number from 1 to kMaxTimeoutMs.
bool ReadMillis(const char* name, long fallback, long& value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        value = fallback;
        return true;
    }
    long n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || n > kMaxTimeoutMs) {
            return false;
        }
        n = n * 10 + (*p - '0');
    }
    value = n;
    return n >= 1 && n <= kMaxTimeoutMs;
}

bool HasHttpScheme(const std::string& url) {
    const auto starts = [&](const char* scheme) { return ::strncasecmp(url.c_str(), scheme, std::strlen(scheme)) == 0; };
    return starts("http://") || starts("https://");
}

// One code point in UTF-8; surrogates and values beyond U+10FFFF, which no
// valid text holds, become U+FFFD.
void AppendUtf8(std::string& out, uint32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        c = 0xFFFD;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        AppendUtf8(out, static_cast<uint32_t>(*text));
    }
    return out;
}

void AppendJsonString(std::string& out, const wchar_t* text) {
    out += '"';
    for (; *text != L'\0'; ++text) {
        const uint32_t c = static_cast<uint32_t>(*text);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                static const char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
            } else {
                AppendUtf8(out, c);
            }
        }
    }
    out += '"';
}

std::string JsonBody(const wchar_t* apiId, const wchar_t* number, const wchar_t* text) {
    std::string body = "{\"api_id\":";
    AppendJsonString(body, apiId);
    body += ",\"number\":";
    AppendJsonString(body, number);
    body += ",\"text\":";
    AppendJsonString(body, text);
    body += '}';
    return body;
}

// Keeps SIGPIPE from the host while libcurl and OpenSSL write to a socket the
// peer has closed: the signal is blocked in this thread only (libcurl's own
// remedy changes the whole process's disposition, and the host has other
// threads), and one raised meanwhile is taken off the thread before the mask
// is restored.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
        m_bBlocked = pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old) == 0;
    }
    ~SigpipeBlocked() {
        if (!m_bBlocked) {
            return;
        }
        sigset_t pending;
        sigemptyset(&pending);
        if (!m_bWasPending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &zero) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_bWasPending = false;
    bool m_bBlocked = false;
};

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

class HttpGateway {
public:
    // nullptr when the settings are unusable or libcurl cannot be set up.
    static std::unique_ptr<HttpGateway> Create() {
        const char* url = std::getenv("VANTREL_SMS_HTTP_URL");
        long nConnectMs = 0;
        long nTotalMs = 0;
        if (url == nullptr || !HasHttpScheme(url) ||
            !ReadMillis("VANTREL_SMS_HTTP_CONNECT_TIMEOUT_MS", kDefaultConnectTimeoutMs, nConnectMs) ||
            !ReadMillis("VANTREL_SMS_HTTP_TIMEOUT_MS", kDefaultTotalTimeoutMs, nTotalMs)) {
            return nullptr;
        }
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return nullptr;
        }
        std::unique_ptr<HttpGateway> gateway(new HttpGateway);
        if (!gateway->SetUp(url, nConnectMs, nTotalMs)) {
            return nullptr;
        }
        return gateway;
    }

    ~HttpGateway() {
        if (m_pCurl != nullptr) {
            curl_easy_cleanup(m_pCurl);
        }
        curl_slist_free_all(m_pHeaders);
        curl_global_cleanup();
    }
    HttpGateway(const HttpGateway&) = delete;
    HttpGateway& operator=(const HttpGateway&) = delete;

    int Send(const wchar_t* apiId, const wchar_t* userName, const wchar_t* password, const wchar_t* number,
             const wchar_t* text, std::string& reply) {
        const std::string body = JsonBody(apiId, number, text);
        const std::string user = Utf8(userName);
        const std::string secret = Utf8(password);
        curl_easy_setopt(m_pCurl, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(m_pCurl, CURLOPT_PASSWORD, secret.c_str());
        curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        m_error[0] = '\0';

        CURLcode rc;
        {
            SigpipeBlocked quiet;
            rc = curl_easy_perform(m_pCurl);
        }
        // The handle keeps no copy of the password between sends.
        curl_easy_setopt(m_pCurl, CURLOPT_PASSWORD, "");

        int nResult;
        if (rc == CURLE_OK) {
            long nStatus = 0;
            curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
            reply = "HTTP " + std::to_string(nStatus);
            nResult = nStatus >= 200 && nStatus < 300 ? 0 : kHttpError;
        } else {
            reply = curl_easy_strerror(rc);
            if (m_error[0] != '\0') {
                reply += ": ";
                reply += m_error;
            }
            nResult = kTransportError;
        }
        Scrub(reply, secret);
        return nResult;
    }

private:
    HttpGateway() = default;

    bool SetUp(const char* url, long nConnectMs, long nTotalMs) {
        m_pCurl = curl_easy_init();
        if (m_pCurl == nullptr) {
            return false;
        }
        m_pHeaders = curl_slist_append(m_pHeaders, "Content-Type: application/json; charset=utf-8");
        // No "Expect: 100-continue" round trip before longer bodies.
        m_pHeaders = curl_slist_append(m_pHeaders, "Expect:");
        if (m_pHeaders == nullptr) {
            return false;
        }
        CURL* c = m_pCurl;
        return curl_easy_setopt(c, CURLOPT_URL, url) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
               // No signals: the host is multi-threaded (see SigpipeBlocked).
               curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, nConnectMs) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, nTotalMs) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_HTTPHEADER, m_pHeaders) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_USERAGENT, "vantrel-sms-http/" VANTREL_VERSION) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, DiscardBody) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_ERRORBUFFER, m_error) == CURLE_OK;
    }

    // Replaces every occurrence of the password in `text`.
    static void Scrub(std::string& text, const std::string& secret) {
        if (secret.empty()) {
            return;
        }
        for (std::string::size_type at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }

    CURL* m_pCurl = nullptr;
    curl_slist* m_pHeaders = nullptr;
    char m_error[CURL_ERROR_SIZE] = {};
};

// The object the library holds: the public struct first, so that `self`
// converts back to it.
struct GatewayObject {
    vantrel_sms_gateway base;
    HttpGateway* pGateway;
};

HttpGateway& Of(vantrel_sms_gateway* self) { return *reinterpret_cast<GatewayObject*>(self)->pGateway; }

void ReleaseGateway(vantrel_sms_gateway* self) {
    delete &Of(self);
    delete reinterpret_cast<GatewayObject*>(self);
}

// The reply as a wide string in a malloc'ed buffer (the reply texts are ASCII).
wchar_t* WideCopy(const std::string& text) {
    auto* wide = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
    if (wide != nullptr) {
        for (std::string::size_type i = 0; i < text.size(); ++i) {
            wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
        }
        wide[text.size()] = L'\0';
    }
    return wide;
}

int SendMessage(vantrel_sms_gateway* self, const wchar_t* apiId, const wchar_t* userName, const wchar_t* password,
                const wchar_t* number, const wchar_t* text, wchar_t** reply) {
    try {
        std::string replyText;
        const int nResult = Of(self).Send(apiId, userName, password, number, text, replyText);
        *reply = WideCopy(replyText);
        return nResult;
    } catch (...) {
        return kInternalError;
    }
}

void FreeReply(vantrel_sms_gateway*, wchar_t* reply) { std::free(reply); }

}  // namespace

extern "C" VANTREL_SMS_GATEWAY_EXPORT vantrel_sms_gateway* vantrel_sms_gateway_create(const char* class_id,
                                                                                      const char* interface_id,
                                                                                      uint32_t host_version) {
    if (class_id == nullptr || interface_id == nullptr || std::strcmp(class_id, VANTREL_SMS_GATEWAY_CLASS_ID) != 0 ||
        std::strcmp(interface_id, VANTREL_SMS_GATEWAY_INTERFACE_ID) != 0 ||
        host_version != VANTREL_SMS_GATEWAY_VERSION) {
        return nullptr;
    }
    try {
        std::unique_ptr<HttpGateway> gateway = HttpGateway::Create();
        if (!gateway) {
            return nullptr;
        }
        auto* object = new GatewayObject{{VANTREL_SMS_GATEWAY_VERSION, ReleaseGateway, SendMessage, FreeReply},
                                         gateway.get()};
        gateway.release();
        return &object->base;
    } catch (...) {
        return nullptr;
    }
}
