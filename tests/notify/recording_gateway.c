/*
 * A recording SMS gateway for the tests, written in C from the public header
 * alone. Each call appends one line to the file named by
 * VANTREL_TEST_SMS_RECORD, fields separated by tabs, texts in UTF-8 with
 * backslash, tab and line feed written as \\, \t and \n:
 *
 *   create <class id> <interface id> <host version> accepted|refused
 *   send <api id> <user name> <password> <number> <text>
 *   free_reply
 *   release
 *
 * VANTREL_TEST_SMS_REFUSE=1 makes the factory refuse; VANTREL_TEST_SMS_LAYOUT
 * sets the version written into the object. A slow gateway: after its line is
 * written, each send waits VANTREL_TEST_SMS_BLOCK_MS milliseconds, or until
 * the file named by VANTREL_TEST_SMS_GATE exists (at most a minute).
 */
#define _POSIX_C_SOURCE 200809L

#include <sys/stat.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

#include "tests/notify/recording_file.h"
#include "vantrel/sms_gateway.h"

static void SleepMs(unsigned long ms) {
    struct timespec wait = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

static void Release(vantrel_sms_gateway* self) {
    Record("release", NULL, 0, NULL);
    free(self);
}

static int Send(vantrel_sms_gateway* self, const wchar_t* api_id, const wchar_t* user_name,
                const wchar_t* password, const wchar_t* number, const wchar_t* text, wchar_t** reply) {
    (void)self;
    const wchar_t* fields[] = {api_id, user_name, password, number, text};
    Record("send", fields, 5, NULL);
    SleepMs(EnvNumber("VANTREL_TEST_SMS_BLOCK_MS", 0));
    const char* gate = getenv("VANTREL_TEST_SMS_GATE");
    struct stat status;
    for (int i = 0; gate != NULL && *gate != '\0' && stat(gate, &status) != 0 && i < 60000; ++i) SleepMs(1);
    *reply = malloc(sizeof L"recorded");
    if (*reply != NULL) wcscpy(*reply, L"recorded");
    return 0;
}

static void FreeReply(vantrel_sms_gateway* self, wchar_t* reply) {
    (void)self;
    Record("free_reply", NULL, 0, NULL);
    free(reply);
}

VANTREL_SMS_GATEWAY_EXPORT vantrel_sms_gateway* vantrel_sms_gateway_create(const char* class_id,
                                                                           const char* interface_id,
                                                                           uint32_t host_version) {
    const int refuse = EnvNumber("VANTREL_TEST_SMS_REFUSE", 0) != 0 ||
                       strcmp(class_id, VANTREL_SMS_GATEWAY_CLASS_ID) != 0 ||
                       strcmp(interface_id, VANTREL_SMS_GATEWAY_INTERFACE_ID) != 0;
    char tail[64];
    snprintf(tail, sizeof tail, "%lu\t%s", (unsigned long)host_version, refuse ? "refused" : "accepted");
    wchar_t wide_ids[2][64];
    mbstowcs(wide_ids[0], class_id, 63);
    mbstowcs(wide_ids[1], interface_id, 63);
    wide_ids[0][63] = wide_ids[1][63] = L'\0';
    const wchar_t* ids[] = {wide_ids[0], wide_ids[1]};
    Record("create", ids, 2, tail);
    if (refuse) return NULL;

    vantrel_sms_gateway* gateway = malloc(sizeof *gateway);
    if (gateway == NULL) return NULL;
    gateway->version = (uint32_t)EnvNumber("VANTREL_TEST_SMS_LAYOUT", VANTREL_SMS_GATEWAY_VERSION);
    gateway->release = Release;
    gateway->send = Send;
    gateway->free_reply = FreeReply;
    return gateway;
}
