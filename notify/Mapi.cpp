#include "notify/Mapi.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "log/LogFacade.h"
#include "notify/MailMessage.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace {

// A writable, NUL-terminated copy of `text`: the entries take char*.
std::vector<char> Writable(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

void Wipe(std::vector<char>& secret) noexcept {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) p[i] = '\0';
}

std::string Cut(const char* text, std::size_t max) {
    const std::string whole(text);
    return whole.substr(0, max);
}

// The Simple MAPI library: the system's own on Windows, loaded by name from
// the system directories; elsewhere the shared object VANTREL_MAPI_LIBRARY
// names (none when it is unset or empty).
std::string MapiLibraryName() {
#if defined(_WIN32)
    return "MAPI32.DLL";
#else
    return platform::GetEnvironment("VANTREL_MAPI_LIBRARY");
#endif
}

}  // namespace

CMapiSession::~CMapiSession() { Close(); }

bool CMapiSession::Open(const std::string& profileName, const std::string& password) {
    Close();
    platform::SharedObject library(MapiLibraryName());
    const auto logon = reinterpret_cast<LPMAPILOGON>(library.Symbol("MAPILogon"));
    const auto logoff = reinterpret_cast<LPMAPILOGOFF>(library.Symbol("MAPILogoff"));
    const auto sendMail = reinterpret_cast<LPMAPISENDMAIL>(library.Symbol("MAPISendMail"));
    if (logon == nullptr || logoff == nullptr || sendMail == nullptr) {
        return false;
    }
    std::vector<char> profile = Writable(profileName);
    std::vector<char> secret = Writable(password);
    LHANDLE hSession = 0;
    const ULONG nResult = logon(0, profile.data(), secret.data(), MAPI_NEW_SESSION, 0, &hSession);
    Wipe(secret);
    if (nResult != SUCCESS_SUCCESS) {
        return false;
    }
    m_library = std::move(library);
    m_pLogoff = logoff;
    m_pSendMail = sendMail;
    m_hSession = hSession;
    return true;
}

bool CMapiSession::Close() noexcept {
    const bool bLoaded = m_library.IsLoaded();
    if (bLoaded && m_hSession != 0 && m_pLogoff != nullptr) {
        m_pLogoff(m_hSession, 0, 0, 0);
    }
    m_library.Close();
    m_pLogoff = nullptr;
    m_pSendMail = nullptr;
    m_hSession = 0;
    return bLoaded;
}

bool SendMAPIMail(LPMAPISENDMAIL pSendMail, LHANDLE hSession, const std::string& recipient, const char* subject,
                  const char* body, const char* attachmentPath) {
    if (pSendMail == nullptr) {
        OutputWarning2Log("Failed to locate MAPISendMail function within MAPI32.DLL (invalid MAPI32.DLL?).");
        return false;
    }
    // Refused rather than cut: a cut address would send the alert to
    // somebody else, or nowhere.
    if (recipient.size() > kMapiAddressMax) {
        OutputWarning2Log("SendMAPIMail(): the recipient address has " + std::to_string(recipient.size()) +
                          " characters, more than the " + std::to_string(kMapiAddressMax) +
                          " that fit; no mail sent to " + recipient);
        return false;
    }
    char address[kMapiAddressSize];
    std::snprintf(address, sizeof address, "SMTP:%s", recipient.c_str());
    char name[] = "Corvel Technical Support";
    MapiRecipDesc recip{};
    recip.ulRecipClass = MAPI_TO;
    recip.lpszName = name;
    recip.lpszAddress = address;

    std::vector<char> path;
    std::vector<char> fileName;
    MapiFileDesc file{};
    if (attachmentPath != nullptr) {
        // The whole path: there is no fixed buffer here, and a path cut short
        // would name another file.
        path = Writable(attachmentPath);
        fileName = Writable(AttachmentTitle(attachmentPath));
        file.nPosition = static_cast<ULONG>(-1);
        file.lpszPathName = path.data();
        file.lpszFileName = fileName.data();
    }

    std::vector<char> subjectText = Writable(Cut(subject != nullptr ? subject : "Corvel Service", kMapiTextMax));
    std::vector<char> noteText = Writable(Cut(body != nullptr ? body : "", kMapiTextMax));
    MapiMessage message{};
    message.lpszSubject = subjectText.data();
    message.lpszNoteText = noteText.data();
    message.nRecipCount = 1;
    message.lpRecips = &recip;
    message.nFileCount = attachmentPath != nullptr ? 1 : 0;
    message.lpFiles = attachmentPath != nullptr ? &file : nullptr;

    const ULONG nResult = pSendMail(hSession, 0, &message, 0, 0);
    if (nResult == SUCCESS_SUCCESS || nResult == MAPI_USER_ABORT || nResult == MAPI_E_LOGIN_FAILURE) {
        return true;
    }
    OutputWarning2Log("Failed to send e-mail using MAPISendMail function.");
    return false;
}

}  // namespace vantrel
