/*
 * Drives an SMS gateway plug-in the way the library does, from the public
 * header alone: creates the gateway, sends one message, prints the result and
 * the reply, releases the gateway.
 *
 *   sms_http_probe <plug-in> <api id> <user name> <password> <number> <text>
 *
 * Arguments are UTF-8. Prints "result=<n>" and "reply=<text>" (exit 0), or
 * "refused" when the factory returns no gateway (exit 3). The environment
 * variable PROBE_CLASS_ID, when set, replaces the class identifier.
 */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "vantrel/sms_gateway.h"

static wchar_t* Wide(const char* text) {
    const size_t n = mbstowcs(NULL, text, 0);
    if (n == (size_t)-1) return NULL;
    wchar_t* wide = malloc((n + 1) * sizeof *wide);
    if (wide != NULL) mbstowcs(wide, text, n + 1);
    return wide;
}

int main(int argc, char** argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: %s <plug-in> <api id> <user name> <password> <number> <text>\n", argv[0]);
        return 64;
    }
    if (setlocale(LC_CTYPE, "C.UTF-8") == NULL) return 65;
    void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (plugin == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 66;
    }
    vantrel_sms_gateway_factory create;
    *(void**)&create = dlsym(plugin, VANTREL_SMS_GATEWAY_FACTORY);
    if (create == NULL) return 67;
    const char* class_id = getenv("PROBE_CLASS_ID");
    vantrel_sms_gateway* gateway = create(class_id != NULL ? class_id : VANTREL_SMS_GATEWAY_CLASS_ID,
                                          VANTREL_SMS_GATEWAY_INTERFACE_ID, VANTREL_SMS_GATEWAY_VERSION);
    if (gateway == NULL) {
        printf("refused\n");
        dlclose(plugin);
        return 3;
    }
    wchar_t* texts[5];
    for (int i = 0; i < 5; ++i) {
        texts[i] = Wide(argv[i + 2]);
        if (texts[i] == NULL) return 68;
    }
    wchar_t* reply = NULL;
    const int result = gateway->send(gateway, texts[0], texts[1], texts[2], texts[3], texts[4], &reply);
    printf("result=%d\nreply=%ls\n", result, reply != NULL ? reply : L"");
    if (reply != NULL) gateway->free_reply(gateway, reply);
    gateway->release(gateway);
    for (int i = 0; i < 5; ++i) free(texts[i]);
    dlclose(plugin);
    return 0;
}
