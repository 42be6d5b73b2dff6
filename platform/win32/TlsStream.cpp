// TLS through Schannel, the system's TLS, by SSPI.
//
// Schannel works on memory buffers as OpenSSL does on Linux: the handshake
// tokens, encrypted records and decrypted bytes pass through this file, and
// the socket is read and written with the platform's bounded waits, so a
// time-out or a WakeEvent ends every wait. The server's certificate is
// checked here once the handshake is done (manual validation): against the
// Windows certificate store, where a company deploys its own roots and
// Windows Update keeps the public ones, or, with a CA file, against the
// certificates of that file only, as on Linux. The chain is built by the
// system with the file's certificates as extra candidates, and accepted when
// it ends in one of them; the system's SSL policy then checks dates, usage and
// the host name while it lets that root be unknown to the store. This needs
// no chain engine of its own, so it behaves the same on every Windows version
// and under Wine.
//
// Error codes are the platform's: kErrorUnexpectedReply for a failure of the
// protocol or of the certificate (the reason text says which),
// kErrorInvalidArgument for a CA file that cannot be used, kErrorTimedOut,
// kErrorCanceled, 0 when the server closed the connection.
#include "platform/TlsStream.h"

#define SECURITY_WIN32
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
// SCH_CREDENTIALS and TLS_PARAMETERS.
#define SCHANNEL_USE_BLACKLISTS
#include "platform/win32/Windows.h"
// Windows.h first: these build on its types.
#include <wincrypt.h>
#include <subauth.h>
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"

namespace vantrel::platform {

bool TlsAvailable() noexcept { return true; }

namespace {

// Closes a certificate store when it goes.
struct StoreCloser {
    void operator()(void* store) const noexcept { ::CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

}  // namespace

struct TlsState {
    CredHandle credentials{};
    CtxtHandle context{};
    bool bCredentials = false;
    bool bContext = false;
    // Name sent to the server (SNI); empty for an address, which is not sent.
    std::string sTarget;
    SecPkgContext_StreamSizes sizes{};
    std::string sReceived;  // bytes from the server not yet handed to Schannel
    std::string sPlain;     // decrypted bytes not yet handed out
    bool bEnded = false;    // the server ended the session (close_notify)

    TlsState() = default;
    TlsState(const TlsState&) = delete;
    TlsState& operator=(const TlsState&) = delete;
    ~TlsState() {
        if (bContext) ::DeleteSecurityContext(&context);
        if (bCredentials) ::FreeCredentialsHandle(&credentials);
    }

    SEC_CHAR* Target() { return sTarget.empty() ? nullptr : sTarget.data(); }
};

namespace {

using Clock = std::chrono::steady_clock;

// One TLS record and a little more: a receive of this size rarely ends
// mid-record.
constexpr std::size_t kChunk = 17 * 1024;
// Handshake messages and records are far smaller; more from the server
// without a complete message is refused rather than stored.
constexpr std::size_t kMaxPending = 1024 * 1024;

// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of the SSL policy (declared in the
// HTTP client headers).
constexpr DWORD kIgnoreNameMismatch = 0x00001000;

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

std::string Hex(unsigned long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

// Schannel's failures, in words close to OpenSSL's where they mean the same.
std::string StatusText(SECURITY_STATUS status) {
    static const struct {
        SECURITY_STATUS status;
        const char* text;
    } kTexts[] = {
        {SEC_E_ILLEGAL_MESSAGE, "unexpected or badly formatted message, or an alert from the server (SEC_E_ILLEGAL_MESSAGE)"},
        {SEC_E_ALGORITHM_MISMATCH, "no protocol version or cipher in common with the server (SEC_E_ALGORITHM_MISMATCH)"},
        {SEC_E_UNSUPPORTED_FUNCTION, "protocol version not supported (SEC_E_UNSUPPORTED_FUNCTION)"},
        {SEC_E_DECRYPT_FAILURE, "decryption failed (SEC_E_DECRYPT_FAILURE)"},
        {SEC_E_MESSAGE_ALTERED, "a message was altered on the way (SEC_E_MESSAGE_ALTERED)"},
        {SEC_E_INVALID_TOKEN, "invalid TLS message (SEC_E_INVALID_TOKEN)"},
        {SEC_E_INTERNAL_ERROR, "internal error of Schannel (SEC_E_INTERNAL_ERROR)"},
        {SEC_E_NO_CREDENTIALS, "no client credentials (SEC_E_NO_CREDENTIALS)"},
        {SEC_E_UNKNOWN_CREDENTIALS, "client credentials refused (SEC_E_UNKNOWN_CREDENTIALS)"},
        {SEC_E_INSUFFICIENT_MEMORY, "out of memory (SEC_E_INSUFFICIENT_MEMORY)"},
    };
    for (const auto& entry : kTexts) {
        if (entry.status == status) return entry.text;
    }
    return "Schannel error " + Hex(static_cast<unsigned long>(status));
}

// The certificate check's verdicts, in OpenSSL's words where they mean the
// same, with Windows' code for a search.
std::string CertificateText(DWORD error) {
    static const struct {
        DWORD error;
        const char* text;
    } kTexts[] = {
        {static_cast<DWORD>(CERT_E_CN_NO_MATCH), "hostname mismatch (CERT_E_CN_NO_MATCH)"},
        {static_cast<DWORD>(CERT_E_EXPIRED), "certificate has expired or is not yet valid (CERT_E_EXPIRED)"},
        {static_cast<DWORD>(CERT_E_CHAINING), "unable to get local issuer certificate (CERT_E_CHAINING)"},
        {static_cast<DWORD>(CERT_E_UNTRUSTEDROOT),
         "unable to get local issuer certificate: the chain ends in an untrusted root (CERT_E_UNTRUSTEDROOT)"},
        {static_cast<DWORD>(CERT_E_WRONG_USAGE), "unsupported certificate purpose (CERT_E_WRONG_USAGE)"},
        {static_cast<DWORD>(CERT_E_REVOKED), "certificate revoked (CERT_E_REVOKED)"},
        {static_cast<DWORD>(TRUST_E_CERT_SIGNATURE), "certificate signature failure (TRUST_E_CERT_SIGNATURE)"},
        {static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING),
         "a certificate is valid outside its issuer's validity (CERT_E_VALIDITYPERIODNESTING)"},
        {static_cast<DWORD>(TRUST_E_BASIC_CONSTRAINTS),
         "a certificate in the chain may not sign others (TRUST_E_BASIC_CONSTRAINTS)"},
    };
    std::string text = "certificate verify failed: ";
    for (const auto& entry : kTexts) {
        if (entry.error == error) return text + entry.text;
    }
    return text + "error " + Hex(error);
}

int MillisecondsLeft(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return INT_MAX;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Sends the token Schannel allocated, and frees it. 0, or the socket's error.
int SendToken(SecBuffer& token, int socket, int timeoutMs, const WakeEvent* wake) {
    int error = 0;
    if (token.pvBuffer != nullptr) {
        if (token.cbBuffer > 0) error = SendAll(socket, static_cast<const char*>(token.pvBuffer), token.cbBuffer, timeoutMs, wake);
        ::FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
    }
    return error;
}

// Waits for bytes from the server and keeps them for Schannel. The number
// received, 0 when the server closed the connection, -1 with *pnError.
long Fill(TlsState& state, int socket, int timeoutMs, const WakeEvent* wake, int* pnError) {
    if (state.sReceived.size() >= kMaxPending) {
        *pnError = kErrorUnexpectedReply;
        return -1;
    }
    char chunk[kChunk];
    const long n = ReceiveWaiting(socket, chunk, sizeof chunk, timeoutMs, wake, pnError);
    if (n > 0) state.sReceived.append(chunk, static_cast<std::size_t>(n));
    return n;
}

// Whether `bytes`, which start where a record starts, can be the start of a
// TLS record: a content type from change_cipher_spec (20) to heartbeat (24)
// and protocol version 3.x. Anything else (a server speaking plain text where
// TLS was expected) is refused at once rather than waited on as the start of
// a long record.
bool CanBeTlsRecord(std::string_view bytes) {
    if (bytes.size() >= 1 && (static_cast<unsigned char>(bytes[0]) < 20 || static_cast<unsigned char>(bytes[0]) > 24)) {
        return false;
    }
    return bytes.size() < 2 || bytes[1] == 3;
}

// The bytes Schannel left unread at the end of the input: the next message.
void KeepExtra(TlsState& state, const SecBuffer& extra) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= state.sReceived.size()) {
        state.sReceived.erase(0, state.sReceived.size() - extra.cbBuffer);
    } else {
        state.sReceived.clear();
    }
}

// Runs the client side of a handshake (the first, or one the server asks for
// later) until Schannel reports it complete: its tokens go to the server, and
// the server's bytes, those kept in state.sReceived first, come back to it.
// Each wait lasts at most `timeoutMs` and none goes past `deadline`. On
// failure *pnError and, for a TLS failure, *psReason say why.
bool Negotiate(TlsState& state, int socket, int timeoutMs, Clock::time_point deadline, const WakeEvent* wake,
               int* pnError, std::string* psReason) {
    ULONG flags = kContextFlags;
    bool bNeedMore = false;
    for (;;) {
        if (wake != nullptr && wake->IsSignalled()) {
            *pnError = kErrorCanceled;
            return false;
        }
        const int nWait = std::min(timeoutMs, MillisecondsLeft(deadline));
        if (nWait == 0) {
            *pnError = kErrorTimedOut;
            return false;
        }
        if (bNeedMore) {
            const long n = Fill(state, socket, nWait, wake, pnError);
            if (n <= 0) {
                if (n == 0) *pnError = 0;
                if (*pnError == kErrorUnexpectedReply) *psReason = "the server's handshake message is too long";
                return false;
            }
        }
        if (!CanBeTlsRecord(state.sReceived)) {
            *pnError = kErrorUnexpectedReply;
            *psReason = "the server's answer is not TLS (wrong record type or version)";
            return false;
        }
        SecBuffer input[2] = {
            {static_cast<unsigned long>(state.sReceived.size()), SECBUFFER_TOKEN, state.sReceived.data()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, &output};
        ULONG attributes = 0;
        TimeStamp expiry{};
        const bool bFirst = !state.bContext;
        const SECURITY_STATUS status = ::InitializeSecurityContextA(
            &state.credentials, bFirst ? nullptr : &state.context, state.Target(), flags, 0, 0,
            bFirst ? nullptr : &inputDesc, 0, bFirst ? &state.context : nullptr, &outputDesc, &attributes, &expiry);
        if (bFirst && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) state.bContext = true;
        // What Schannel wrote goes out even on failure: an alert tells the
        // server why the client gives up.
        const int sendError = SendToken(output, socket, nWait, wake);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            bNeedMore = true;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && (flags & ISC_REQ_USE_SUPPLIED_CREDS) == 0) {
            // The server asks for a client certificate: the same input once
            // more, going on without one.
            flags |= ISC_REQ_USE_SUPPLIED_CREDS;
            bNeedMore = false;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            *pnError = kErrorUnexpectedReply;
            *psReason = status == SEC_I_INCOMPLETE_CREDENTIALS ? "the server requires a client certificate"
                                                               : StatusText(status);
            return false;
        }
        if (sendError != 0) {
            *pnError = sendError;
            return false;
        }
        if (!bFirst) KeepExtra(state, input[1]);
        if (status == SEC_E_OK) return true;
        bNeedMore = state.sReceived.empty();
    }
}

// The certificates of a PEM file: each "-----BEGIN CERTIFICATE-----" block,
// anything around them ignored. Empty `psReason` on success.
Store ReadCertificates(const std::string& path, std::string* psReason) {
    std::string text;
    if (ReadWholeFile(path, text) != FileReadResult::Ok) {
        *psReason = "the CA file '" + path + "' cannot be read";
        return nullptr;
    }
    Store store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (store == nullptr) {
        *psReason = "the CA file '" + path + "' cannot be read: no memory store";
        return nullptr;
    }
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    std::size_t nCertificates = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const DWORD length = static_cast<DWORD>(end + kEnd.size() - at);
        DWORD size = 0;
        std::vector<BYTE> der;
        bool bDecoded = ::CryptStringToBinaryA(text.data() + at, length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                                               nullptr, nullptr) != FALSE;
        if (bDecoded) {
            der.resize(size);
            bDecoded = ::CryptStringToBinaryA(text.data() + at, length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                                              nullptr, nullptr) != FALSE;
        }
        if (!bDecoded || !::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                                             CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            *psReason = "the CA file '" + path + "' cannot be read: certificate " + std::to_string(nCertificates + 1) +
                        " in it is not valid";
            return nullptr;
        }
        ++nCertificates;
        at = end + kEnd.size();
    }
    if (nCertificates == 0) {
        *psReason = "the CA file '" + path + "' cannot be read: no certificate found in it";
        return nullptr;
    }
    return store;
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
    return a->cbCertEncoded == b->cbCertEncoded && std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// Whether `certificate` is one of those in `store`, byte for byte.
bool InStore(HCERTSTORE store, PCCERT_CONTEXT certificate) {
    for (PCCERT_CONTEXT candidate = ::CertEnumCertificatesInStore(store, nullptr); candidate != nullptr;
         candidate = ::CertEnumCertificatesInStore(store, candidate)) {
        if (SameCertificate(candidate, certificate)) {
            ::CertFreeCertificateContext(candidate);
            return true;
        }
    }
    return false;
}

// An IPv4 (4 bytes) or IPv6 (16 bytes) address written in `host`; empty for
// a name.
std::string AddressBytes(const std::string& host) {
    in6_addr address{};  // room for either family
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return std::string(reinterpret_cast<char*>(&address), 4);
    if (::inet_pton(AF_INET6, host.c_str(), &address) == 1) return std::string(reinterpret_cast<char*>(&address), 16);
    return std::string();
}

// Whether the certificate names the address among its subject's alternative
// names.
bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
    const CERT_INFO* info = certificate->pCertInfo;
    PCERT_EXTENSION extension = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (extension == nullptr) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
        return false;
    }
    bool bFound = false;
    for (DWORD i = 0; i < names->cAltEntry && !bFound; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        bFound = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
                 std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    ::LocalFree(names);
    return bFound;
}

std::wstring Wide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

// Checks the server's certificate: its chain ends in a trusted root (with
// `anchors`, one of them), and it was issued to `host`. Empty when accepted,
// else the reason.
std::string VerifyServer(TlsState& state, const std::string& host, HCERTSTORE anchors, int timeoutMs) {
    PCCERT_CONTEXT server = nullptr;
    if (::QueryContextAttributesA(&state.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK ||
        server == nullptr) {
        return "certificate verify failed: the server sent no certificate";
    }
    std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)> serverHolder(
        server, &::CertFreeCertificateContext);

    // The certificates the server sent with its own, and those of the CA
    // file, as candidates for the chain.
    Store candidates(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (candidates == nullptr) return "certificate verify failed: no memory store";
    if (server->hCertStore != nullptr) ::CertAddStoreToCollection(candidates.get(), server->hCertStore, 0, 0);
    if (anchors != nullptr) ::CertAddStoreToCollection(candidates.get(), anchors, 0, 0);

    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // Fetching a missing issuer or root from the network is bounded like a
    // reply.
    chainPara.dwUrlRetrievalTimeout = static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!::CertGetCertificateChain(nullptr, server, nullptr, candidates.get(), &chainPara, 0, nullptr, &chain) ||
        chain == nullptr) {
        return "certificate verify failed: no chain built (error " + std::to_string(::GetLastError()) + ")";
    }
    std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&::CertFreeCertificateChain)> chainHolder(
        chain, &::CertFreeCertificateChain);

    bool bRootFromFile = false;
    if (anchors != nullptr) {
        const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
        if (simple == nullptr || simple->cElement == 0 ||
            !InStore(anchors, simple->rgpElement[simple->cElement - 1]->pCertContext)) {
            return CertificateText(static_cast<DWORD>(CERT_E_CHAINING));
        }
        bRootFromFile = true;
    } else if (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) {
        return CertificateText(static_cast<DWORD>(CERT_E_CHAINING));
    }

    const std::string address = AddressBytes(host);
    const bool bAddress = !address.empty();
    std::wstring wideHost = Wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
    sslPara.cbSize = sizeof sslPara;
    sslPara.dwAuthType = AUTHTYPE_SERVER;
    // An address is compared with the certificate's addresses below; the
    // policy compares names only.
    sslPara.fdwChecks = bAddress ? kIgnoreNameMismatch : 0;
    sslPara.pwszServerName = wideHost.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    // The CA file's root is trusted here, not by the store.
    policyPara.dwFlags = bRootFromFile ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policyPara.pvExtraPolicyPara = &sslPara;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus)) {
        return "certificate verify failed: the policy check failed (error " + std::to_string(::GetLastError()) + ")";
    }
    if (policyStatus.dwError != 0) return CertificateText(policyStatus.dwError);
    if (bAddress && !NamesAddress(server, address)) return "certificate verify failed: IP address mismatch";
    return std::string();
}

// Credentials for TLS 1.2 and later, with the certificate left to
// VerifyServer. Windows 10 (1809) and later take SCH_CREDENTIALS and add
// TLS 1.3; older systems know only SCHANNEL_CRED, which gets TLS 1.2.
SECURITY_STATUS AcquireCredentials(TlsState& state) {
    char package[] = UNISP_NAME_A;
    TimeStamp expiry{};
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status = ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &current,
                                                         nullptr, nullptr, &state.credentials, &expiry);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        older.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        status = ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr,
                                             nullptr, &state.credentials, &expiry);
    }
    state.bCredentials = status == SEC_E_OK;
    return status;
}

}  // namespace

TlsSession::TlsSession() noexcept = default;

TlsSession::~TlsSession() { Close(); }

bool TlsSession::IsOpen() const noexcept { return m_pState != nullptr; }

bool TlsSession::Handshake(int socket, const std::string& host, const TlsPeerCheck& check, int timeoutMs,
                           const WakeEvent* wake, int* pnError, std::string* psReason) {
    Close();
    *pnError = 0;
    psReason->clear();
    Store anchors;
    if (check.bVerifyPeer && !check.sCAFile.empty()) {
        anchors = ReadCertificates(check.sCAFile, psReason);
        if (anchors == nullptr) {
            *pnError = kErrorInvalidArgument;
            return false;
        }
    }
    auto state = std::make_unique<TlsState>();
    if (AddressBytes(host).empty()) state->sTarget = host;
    const SECURITY_STATUS status = AcquireCredentials(*state);
    if (status != SEC_E_OK) {
        *pnError = kErrorUnexpectedReply;
        *psReason = "no TLS credentials: " + StatusText(status);
        return false;
    }

    const int nLimit = timeoutMs > kHandshakeLimitMs ? timeoutMs : kHandshakeLimitMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nLimit);
    if (!Negotiate(*state, socket, timeoutMs, deadline, wake, pnError, psReason)) {
        if (psReason->empty()) *psReason = WaitFailureText(*pnError);
        return false;
    }
    const SECURITY_STATUS sizes = ::QueryContextAttributesA(&state->context, SECPKG_ATTR_STREAM_SIZES, &state->sizes);
    if (sizes != SEC_E_OK || state->sizes.cbMaximumMessage == 0) {
        *pnError = kErrorUnexpectedReply;
        *psReason = StatusText(sizes);
        return false;
    }
    if (check.bVerifyPeer) {
        *psReason = VerifyServer(*state, host, anchors.get(), timeoutMs);
        if (!psReason->empty()) {
            *pnError = kErrorUnexpectedReply;
            return false;
        }
    }
    m_pState = std::move(state);
    m_socket = socket;
    return true;
}

bool TlsSession::Send(std::string_view bytes, int timeoutMs, const WakeEvent* wake, int* pnError) {
    if (!IsOpen()) {
        *pnError = kErrorNotConnected;
        return false;
    }
    const SecPkgContext_StreamSizes& sizes = m_pState->sizes;
    std::string record;
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), sizes.cbMaximumMessage);
        record.assign(sizes.cbHeader + piece + sizes.cbTrailer, '\0');
        char* data = record.data();
        std::memcpy(data + sizes.cbHeader, bytes.data(), piece);
        SecBuffer buffers[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, data},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, data + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, data + sizes.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        // Encrypted in place: no copy of what is sent (a password) stays
        // readable in the record.
        if (::EncryptMessage(&m_pState->context, 0, &desc, 0) != SEC_E_OK) {
            SecureZeroMemory(data, record.size());
            *pnError = kErrorUnexpectedReply;
            return false;
        }
        const std::size_t total = std::size_t{buffers[0].cbBuffer} + buffers[1].cbBuffer + buffers[2].cbBuffer;
        const int error = SendAll(m_socket, data, std::min(total, record.size()), timeoutMs, wake);
        if (error != 0) {
            *pnError = error;
            return false;
        }
        bytes.remove_prefix(piece);
    }
    return true;
}

long TlsSession::Receive(char* buffer, std::size_t size, int timeoutMs, const WakeEvent* wake, int* pnError) {
    if (!IsOpen()) {
        *pnError = kErrorNotConnected;
        return -1;
    }
    TlsState& state = *m_pState;
    bool bNeedMore = state.sReceived.empty();
    for (;;) {
        if (wake != nullptr && wake->IsSignalled()) {
            *pnError = kErrorCanceled;
            return -1;
        }
        if (!state.sPlain.empty()) {
            // At most one record's bytes (16 KiB) wait here.
            const std::size_t n = state.sPlain.copy(buffer, size);
            state.sPlain.erase(0, n);
            return static_cast<long>(n);
        }
        if (state.bEnded) {
            *pnError = 0;
            return 0;
        }
        if (bNeedMore) {
            const long n = Fill(state, m_socket, timeoutMs, wake, pnError);
            if (n <= 0) {
                if (n == 0) *pnError = 0;
                return n;
            }
            bNeedMore = false;
        }
        if (!CanBeTlsRecord(state.sReceived)) {
            *pnError = kErrorUnexpectedReply;
            return -1;
        }
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(state.sReceived.size()), SECBUFFER_DATA, state.sReceived.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = ::DecryptMessage(&state.context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            bNeedMore = true;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED && status != SEC_I_RENEGOTIATE) {
            *pnError = kErrorUnexpectedReply;
            return -1;
        }
        // The decrypted bytes lie inside sReceived: they are copied out
        // before the rest of it moves up.
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) state.sPlain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
        }
        KeepExtra(state, extra != nullptr ? *extra : SecBuffer{0, SECBUFFER_EMPTY, nullptr});
        bNeedMore = state.sReceived.empty();
        if (status == SEC_I_CONTEXT_EXPIRED) state.bEnded = true;
        if (status == SEC_I_RENEGOTIATE) {
            // A handshake message after the handshake (a TLS 1.3 session
            // ticket or key update, or a renegotiation): Schannel takes it,
            // and the bytes after it, through InitializeSecurityContext.
            std::string reason;
            const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(
                                                                  std::max(timeoutMs, kHandshakeLimitMs));
            if (!Negotiate(state, m_socket, timeoutMs, deadline, wake, pnError, &reason)) return -1;
            bNeedMore = state.sReceived.empty();
        }
    }
}

void TlsSession::Close() noexcept {
    if (m_pState == nullptr) return;
    // close_notify, if the socket takes it without waiting.
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (!m_pState->bEnded && ::ApplyControlToken(&m_pState->context, &controlDesc) == SEC_E_OK) {
        SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, &output};
        ULONG attributes = 0;
        TimeStamp expiry{};
        ::InitializeSecurityContextA(&m_pState->credentials, &m_pState->context, m_pState->Target(), kContextFlags,
                                     0, 0, nullptr, 0, nullptr, &outputDesc, &attributes, &expiry);
        SendToken(output, m_socket, 0, nullptr);
    }
    m_pState.reset();
    m_socket = kInvalidSocket;
}

void PrepareTls() noexcept {}

}  // namespace vantrel::platform
