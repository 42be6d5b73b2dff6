/*
 * Simple MAPI as the library sees it: a mail library loaded at run time
 * (MAPI32.DLL on Windows; elsewhere the shared object VANTREL_MAPI_LIBRARY
 * names) that exports MAPILogon, MAPILogoff and MAPISendMail.
 *
 * The declarations below are Simple MAPI's C interface: ULONG is 32 bits and
 * session handles are pointer-sized, as on Windows, so a library written from
 * the Windows declarations fits. This part is plain C, so that a MAPI library
 * can be written in C from it (the tests build one). The C++ part below it is
 * the library's loader and sender.
 */
#ifndef VANTREL_NOTIFY_MAPI_H
#define VANTREL_NOTIFY_MAPI_H

#if defined(_WIN32)

/* Windows declares Simple MAPI itself (with its WINAPI calling convention). */
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mapi.h>

#else

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ULONG;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR LHANDLE;

/* Recipient classes. */
#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3

/* MAPILogon flag: open a session of its own rather than share one. */
#define MAPI_NEW_SESSION 0x00000002

/* Results. */
#define SUCCESS_SUCCESS 0
#define MAPI_USER_ABORT 1
#define MAPI_E_FAILURE 2
#define MAPI_E_LOGIN_FAILURE 3

typedef struct MapiRecipDesc {
    ULONG ulReserved;   /* 0 */
    ULONG ulRecipClass; /* MAPI_TO, ... */
    char* lpszName;     /* display name */
    char* lpszAddress;  /* "SMTP:" followed by the address */
    ULONG ulEIDSize;    /* 0: no entry identifier */
    void* lpEntryID;
} MapiRecipDesc;

typedef struct MapiFileDesc {
    ULONG ulReserved;   /* 0 */
    ULONG flFlags;      /* 0 */
    ULONG nPosition;    /* (ULONG)-1: not placed in the text */
    char* lpszPathName; /* the file to attach */
    char* lpszFileName; /* the name the recipient sees */
    void* lpFileType;   /* NULL */
} MapiFileDesc;

typedef struct MapiMessage {
    ULONG ulReserved;
    char* lpszSubject;
    char* lpszNoteText;
    char* lpszMessageType;
    char* lpszDateReceived;
    char* lpszConversationID;
    ULONG flFlags;
    MapiRecipDesc* lpOriginator;
    ULONG nRecipCount;
    MapiRecipDesc* lpRecips;
    ULONG nFileCount;
    MapiFileDesc* lpFiles;
} MapiMessage;

/* The three entries, looked up by these names. */
typedef ULONG (*LPMAPILOGON)(ULONG_PTR ulUIParam, char* lpszProfileName, char* lpszPassword, ULONG flFlags,
                             ULONG ulReserved, LHANDLE* lplhSession);
typedef ULONG (*LPMAPILOGOFF)(LHANDLE lhSession, ULONG_PTR ulUIParam, ULONG flFlags, ULONG ulReserved);
typedef ULONG (*LPMAPISENDMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam, MapiMessage* lpMessage, ULONG flFlags,
                                ULONG ulReserved);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* _WIN32 */

#ifdef __cplusplus

#include <cstddef>
#include <string>

#include "platform/SharedObject.h"

namespace vantrel {

// The address field holds "SMTP:", the address and a terminator in this
// many characters, so an address may have at most kMapiAddressMax.
constexpr std::size_t kMapiAddressSize = 80;
constexpr std::size_t kMapiAddressMax = kMapiAddressSize - 6;
// Subjects and note texts are cut to this many characters.
constexpr std::size_t kMapiTextMax = 79;

// The loaded mail library with its three entries and an open session.
class CMapiSession {
public:
    CMapiSession() = default;
    // Logs off (when a session is open) and unloads the library.
    ~CMapiSession();
    CMapiSession(const CMapiSession&) = delete;
    CMapiSession& operator=(const CMapiSession&) = delete;

    // Loads the library (MAPI32.DLL on Windows, else the one named by
    // VANTREL_MAPI_LIBRARY), looks up the three entries and logs on with
    // MAPI_NEW_SESSION. False, with nothing kept, when the variable is unset
    // or empty, the library does not load, an entry is missing or the logon
    // is refused.
    bool Open(const std::string& profileName, const std::string& password);
    // Logs off and unloads the library. True when a library was loaded.
    bool Close() noexcept;

    LPMAPISENDMAIL SendEntry() const noexcept { return m_pSendMail; }
    LHANDLE Session() const noexcept { return m_hSession; }

private:
    platform::SharedObject m_library;
    LPMAPILOGOFF m_pLogoff = nullptr;
    LPMAPISENDMAIL m_pSendMail = nullptr;
    LHANDLE m_hSession = 0;
};

// Sends one mail through `pSendMail` on `hSession`: one MAPI_TO recipient
// "SMTP:<recipient>", the subject ("Corvel Service" when null) and the body
// (empty when null) each cut to kMapiTextMax characters, and the file at
// `attachmentPath` (none when null) under its base name. Results 0, 1 (user
// abort) and 3 (login failure) count as sent. Every failure is a warning:
// no send entry, a recipient longer than kMapiAddressMax (refused, never
// cut), any other result.
bool SendMAPIMail(LPMAPISENDMAIL pSendMail, LHANDLE hSession, const std::string& recipient, const char* subject,
                  const char* body, const char* attachmentPath);

}  // namespace vantrel

#endif /* __cplusplus */

#endif /* VANTREL_NOTIFY_MAPI_H */
