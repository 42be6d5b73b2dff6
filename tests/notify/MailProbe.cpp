// A shared object for the unload tests: the library's internals and one
// exported function that queues two mails for a server and starts the mail
// thread, as the mail handler does.
#include "notify/MailHandler.h"
#include "notify/MailRequests.h"
#include "notify/SMSHandler.h"

extern "C" __attribute__((visibility("default"))) int vantrel_probe_queue_mails(const char* host, int port) {
    using namespace vantrel;
    // The alert handlers exist before the thread is launched, as they do when
    // the mail handler launches it: the thread's warnings reach them, so
    // unload must destroy them after the thread has stopped.
    GetSMSHandler();
    GetMailHandler();
    CSMTPConnectionRef connection(new CSMTPConnection(host, port, "probe", "probe-password"));
    // Long enough that only a stop request can end the wait for a reply.
    connection->SetReplyTimeout(60000);
    CMailRequest request;
    request.pSMTPConnection = connection;
    request.sSender = "feed@example.org";
    request.recipients = {"ops@example.org"};
    request.sSubject = "probe";
    request.sBody = "probe";
    CMailRequestsContainer& container = GetMailRequestsContainer();
    container.AddRef();
    container.AddRequest(request);  // being sent at unload
    container.AddRequest(request);  // still queued at unload
    return LaunchMailRequestsThread() ? 1 : 0;
}
