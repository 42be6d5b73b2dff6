/*
 * A recording Simple MAPI library for the tests, written in C from
 * notify/Mapi.h alone. Each call appends lines to the file named by
 * VANTREL_TEST_MAPI_RECORD, fields separated by tabs, texts with backslash,
 * tab and line feed written as \\, \t and \n, and a null pointer as (null):
 *
 *   logon <ui param> <profile> <password> <flags> <reserved> <result>
 *   send <session> <ui param> <flags> <reserved> <result>
 *   message <subject> <note> <type> <date> <conversation> <flags> <originator> <recipients> <files>
 *   recipient <class> <name> <address> <entry id size>      (one per recipient)
 *   file <flags> <position> <path> <file name> <file type>  (one per file)
 *   logoff <session> <ui param> <flags> <reserved>
 *
 * The session handle handed out needs more than 32 bits on a 64-bit host, so
 * a caller that cuts handles to 32 bits shows in the record.
 * VANTREL_TEST_MAPI_LOGON_RESULT and VANTREL_TEST_MAPI_SEND_RESULT set the
 * results (default 0, success).
 */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>

#include "notify/Mapi.h"

#define EXPORT __attribute__((visibility("default")))

static const LHANDLE kSession = (LHANDLE)(sizeof(LHANDLE) > 4 ? 0x5E55104F00ull : 0x5E55104Full);

static ULONG EnvResult(const char* name) {
    const char* value = getenv(name);
    return value != NULL && *value != '\0' ? (ULONG)strtoul(value, NULL, 10) : SUCCESS_SUCCESS;
}

static FILE* OpenRecord(void) {
    const char* path = getenv("VANTREL_TEST_MAPI_RECORD");
    return path != NULL ? fopen(path, "a") : NULL;
}

static void PutText(FILE* out, const char* text) {
    fputc('\t', out);
    if (text == NULL) {
        fputs("(null)", out);
        return;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '\t' || *p == '\n') {
            fputc('\\', out);
            fputc(*p == '\\' ? '\\' : *p == '\t' ? 't' : 'n', out);
        } else {
            fputc(*p, out);
        }
    }
}

static void PutNumber(FILE* out, unsigned long long number) { fprintf(out, "\t%llu", number); }

EXPORT ULONG MAPILogon(ULONG_PTR ulUIParam, char* lpszProfileName, char* lpszPassword, ULONG flFlags,
                       ULONG ulReserved, LHANDLE* lplhSession) {
    const ULONG result = EnvResult("VANTREL_TEST_MAPI_LOGON_RESULT");
    FILE* out = OpenRecord();
    if (out != NULL) {
        fputs("logon", out);
        PutNumber(out, ulUIParam);
        PutText(out, lpszProfileName);
        PutText(out, lpszPassword);
        PutNumber(out, flFlags);
        PutNumber(out, ulReserved);
        PutNumber(out, result);
        fputc('\n', out);
        fclose(out);
    }
    *lplhSession = result == SUCCESS_SUCCESS ? kSession : 0;
    return result;
}

EXPORT ULONG MAPISendMail(LHANDLE lhSession, ULONG_PTR ulUIParam, MapiMessage* lpMessage, ULONG flFlags,
                          ULONG ulReserved) {
    const ULONG result = EnvResult("VANTREL_TEST_MAPI_SEND_RESULT");
    FILE* out = OpenRecord();
    if (out == NULL) return result;
    fputs("send", out);
    PutNumber(out, lhSession);
    PutNumber(out, ulUIParam);
    PutNumber(out, flFlags);
    PutNumber(out, ulReserved);
    PutNumber(out, result);
    fputs("\nmessage", out);
    PutText(out, lpMessage->lpszSubject);
    PutText(out, lpMessage->lpszNoteText);
    PutText(out, lpMessage->lpszMessageType);
    PutText(out, lpMessage->lpszDateReceived);
    PutText(out, lpMessage->lpszConversationID);
    PutNumber(out, lpMessage->flFlags);
    PutText(out, lpMessage->lpOriginator == NULL ? NULL : "set");
    PutNumber(out, lpMessage->nRecipCount);
    PutNumber(out, lpMessage->nFileCount);
    fputc('\n', out);
    for (ULONG i = 0; i < lpMessage->nRecipCount; ++i) {
        const MapiRecipDesc* recip = &lpMessage->lpRecips[i];
        fputs("recipient", out);
        PutNumber(out, recip->ulRecipClass);
        PutText(out, recip->lpszName);
        PutText(out, recip->lpszAddress);
        PutNumber(out, recip->ulEIDSize);
        fputc('\n', out);
    }
    for (ULONG i = 0; i < lpMessage->nFileCount; ++i) {
        const MapiFileDesc* file = &lpMessage->lpFiles[i];
        fputs("file", out);
        PutNumber(out, file->flFlags);
        fprintf(out, "\t%ld", file->nPosition == (ULONG)-1 ? -1L : (long)file->nPosition);
        PutText(out, file->lpszPathName);
        PutText(out, file->lpszFileName);
        PutText(out, file->lpFileType == NULL ? NULL : "set");
        fputc('\n', out);
    }
    fclose(out);
    return result;
}

EXPORT ULONG MAPILogoff(LHANDLE lhSession, ULONG_PTR ulUIParam, ULONG flFlags, ULONG ulReserved) {
    FILE* out = OpenRecord();
    if (out != NULL) {
        fputs("logoff", out);
        PutNumber(out, lhSession);
        PutNumber(out, ulUIParam);
        PutNumber(out, flFlags);
        PutNumber(out, ulReserved);
        fputc('\n', out);
        fclose(out);
    }
    return SUCCESS_SUCCESS;
}
