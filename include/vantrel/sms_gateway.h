/*
 * vantrel/sms_gateway.h: the interface of an SMS gateway plug-in.
 *
 * Vantrel sends its SMS alerts through a gateway: a shared object that the
 * library loads at run time from the path in the environment variable
 * VANTREL_SMS_GATEWAY, once per process, at the first warning or error it
 * logs (and only when the settings file switches SMS alerts on). This header
 * is all a gateway writer needs; it is plain C99 and also compiles as C++.
 * Vantrel installs one gateway of its own, vantrel-sms-http, which posts each
 * message to an HTTP(S) service.
 *
 * WHAT A GATEWAY EXPORTS
 *
 *   One C function named by VANTREL_SMS_GATEWAY_FACTORY:
 *
 *     VANTREL_SMS_GATEWAY_EXPORT vantrel_sms_gateway*
 *     vantrel_sms_gateway_create(const char* class_id, const char* interface_id,
 *                                uint32_t host_version);
 *
 *   The library passes VANTREL_SMS_GATEWAY_CLASS_ID, VANTREL_SMS_GATEWAY_
 *   INTERFACE_ID (exactly these strings) and the VANTREL_SMS_GATEWAY_VERSION it
 *   was built with. The factory returns a new gateway object, or NULL to refuse
 *   (identifiers it does not implement, a layout version it cannot provide, a
 *   configuration it cannot use). A refusal, a missing factory or a plug-in
 *   that does not load all end the same way: the library logs the warning
 *   "CSMSHandler::CSMSHandler(): SMS gateway is not connected due to problem
 *   creating COM-object instance" and sends no SMS until it is loaded again.
 *
 * THE OBJECT
 *
 *   A vantrel_sms_gateway whose four members are all set. A gateway keeps its
 *   own state by embedding the struct as the first member of a larger struct
 *   and casting `self` back to that. The library refuses an object whose
 *   `version` is not its own VANTREL_SMS_GATEWAY_VERSION, or whose function
 *   pointers are NULL: it calls `release` (if set) and treats the gateway as
 *   not created. `version` and `release` stay the first two members in every
 *   later version of this header, so that such an object can always be
 *   released.
 *
 *   send(self, api_id, user_name, password, number, text, reply)
 *     Sends `text` to `number`. The library calls it once per destination
 *     number and alert, in the order of the numbers in the settings. The five
 *     texts are the settings "SMSAPIID", "SMSUsername", "SMSPassword", one
 *     number of "SMSToMobileNumber", and the alert, for example
 *     "<20240517-09:31:40, Error (2)>: StartQuotesThread(): login failed
 *     [login:password fields]." (UTC time; no length limit: cutting or
 *     splitting for the network is the gateway's choice). They are never NULL
 *     and stay valid only during the call.
 *     `*reply` is NULL on entry. The gateway may set it to a text of its own
 *     (a provider's message id, an error description); the library hands it
 *     back to `free_reply` after the call and never reads it. Never put the
 *     password in it.
 *     The result is 0 when the gateway accepted the message and any other
 *     value when it did not. The library does not act on it: it neither logs
 *     nor retries, and goes on with the next number.
 *
 *   free_reply(self, reply)
 *     Frees a reply that `send` returned (never called with NULL). The reply
 *     is freed by the gateway's own allocator, so the library and the gateway
 *     may use different C runtimes or allocators.
 *
 *   release(self)
 *     Destroys the object. After it returns the library unloads the plug-in
 *     (dlclose), so nothing of the gateway may run any more: stop and join
 *     its threads, and register no atexit handlers.
 *
 * TEXTS
 *
 *   The library's texts are 8-bit strings. It converts them to wide strings
 *   with mbrtowc, through the LC_CTYPE locale of the calling thread (the
 *   process locale as the host set it with setlocale; a host that never calls
 *   setlocale is in the "C" locale, where only ASCII converts). A byte that
 *   the locale cannot convert becomes U+FFFD (REPLACEMENT CHARACTER) and the
 *   conversion goes on with the next byte, so a message is never lost to one
 *   bad byte. With glibc a wchar_t holds one Unicode code point.
 *
 * THREADS
 *
 *   The factory and the three functions are called one at a time: the library
 *   holds its alert lock around every call, so a gateway needs no lock for its
 *   object. The calls do not all come from the same thread: the object is
 *   created on the thread that logged the first warning or error, `send` runs
 *   on whichever host or library thread logs an alert (the library's quote
 *   receiving thread among them), and `release` on the thread that unloads the
 *   library or exits the process. Keep no per-thread state.
 *
 * TIME
 *
 *   `send` runs on the thread that logged, and while it runs every other
 *   thread that logs a warning or error waits for it: a slow `send` stalls the
 *   host's calls and the library's quote stream. Return within a few seconds
 *   in every case: bound every connect, read and write with a short time-out,
 *   never retry inside the call, and never wait for a person.
 *
 * DON'T
 *
 *   Call the library's exported functions from a gateway function; let a C++
 *   exception or a longjmp leave a gateway function; raise signals in the
 *   host (write to sockets with MSG_NOSIGNAL, or block SIGPIPE in the calling
 *   thread); change process-wide state (signal dispositions, the locale, the
 *   working directory, environment variables); exit the process.
 */
#ifndef VANTREL_SMS_GATEWAY_H
#define VANTREL_SMS_GATEWAY_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The layout of vantrel_sms_gateway described by this header. */
#define VANTREL_SMS_GATEWAY_VERSION 1u

/* The identifiers the library passes to the factory. */
#define VANTREL_SMS_GATEWAY_CLASS_ID "{231CD7E4-908C-45C0-B357-34FE860BED1D}"
#define VANTREL_SMS_GATEWAY_INTERFACE_ID "{EEFFA403-0DD7-4D83-A9ED-CA22DAD7C388}"

/* The name of the factory the plug-in exports. */
#define VANTREL_SMS_GATEWAY_FACTORY "vantrel_sms_gateway_create"

/* Gives the factory default visibility in a plug-in built with
   -fvisibility=hidden. */
#if defined(__GNUC__)
#define VANTREL_SMS_GATEWAY_EXPORT __attribute__((visibility("default")))
#else
#define VANTREL_SMS_GATEWAY_EXPORT
#endif

typedef struct vantrel_sms_gateway vantrel_sms_gateway;

struct vantrel_sms_gateway {
    /* VANTREL_SMS_GATEWAY_VERSION of the header the gateway was built with. */
    uint32_t version;
    void (*release)(vantrel_sms_gateway* self);
    int (*send)(vantrel_sms_gateway* self, const wchar_t* api_id, const wchar_t* user_name,
                const wchar_t* password, const wchar_t* number, const wchar_t* text,
                wchar_t** reply);
    void (*free_reply)(vantrel_sms_gateway* self, wchar_t* reply);
};

typedef vantrel_sms_gateway* (*vantrel_sms_gateway_factory)(const char* class_id,
                                                            const char* interface_id,
                                                            uint32_t host_version);

/* Defined by the plug-in, never by the library. */
VANTREL_SMS_GATEWAY_EXPORT vantrel_sms_gateway* vantrel_sms_gateway_create(const char* class_id,
                                                                           const char* interface_id,
                                                                           uint32_t host_version);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_SMS_GATEWAY_H */
