// The byte stream under the SMTP dialogue: connect, send, receive, close.
//
// The dialogue code sees only this interface, so that an encrypted stream can
// take the plain TCP one's place without changing it. Waiting is part of
// Send and Receive rather than a separate call, because only the stream
// knows what it waits for (an encrypted stream may have to write while it
// reads, or hold decrypted bytes that no socket wait would report).
//
// Every wait is bounded by the time-out the caller gives and cut short when
// the stream's wake event is signalled (the library is being unloaded). Error
// codes are the platform's socket codes, and from platform/ErrorCodes.h
// kErrorTimedOut when the time runs out, kErrorCanceled when woken,
// kErrorNotConnected when the stream is not open; EPROTO when TLS fails.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Socket.h"
#include "platform/TlsStream.h"

namespace vantrel {

class CByteStream {
public:
    enum class ConnectResult { Connected, NoSocket, Failed };

    virtual ~CByteStream() = default;

    // Opens a connection to `host` (a name, an IPv4 or an IPv6 address) and
    // `port`, name resolution included, within `timeoutMs`. A stream still
    // open is closed first. NoSocket: no socket could be created.
    virtual ConnectResult Connect(const std::string& host, int port, int timeoutMs, int* pnError) = 0;

    // Sends all of `bytes`, waiting for room at most `timeoutMs` each time the
    // peer takes nothing.
    virtual bool Send(std::string_view bytes, int timeoutMs, int* pnError) = 0;

    // Waits at most `timeoutMs` for bytes and receives what has arrived, up to
    // `size`. Returns the number received, 0 when the peer closed the
    // connection in order, or -1 with the reason in *pnError.
    virtual long Receive(char* buffer, std::size_t size, int timeoutMs, int* pnError) = 0;

    // Switches the open connection to TLS: the client handshake, with the
    // server's certificate checked as `check` says against `host`. Each wait
    // lasts at most `timeoutMs`. From then on Send and Receive carry
    // encrypted bytes. On failure the reason is in *psReason (the TLS
    // library's text) and the stream is no longer usable; it is closed by
    // Close() or the next Connect(). Streams without TLS refuse with ENOTSUP.
    virtual bool StartTls(const std::string& host, const platform::TlsPeerCheck& check, int timeoutMs,
                          int* pnError, std::string* psReason);

    virtual void Close() noexcept = 0;
    virtual bool IsOpen() const noexcept = 0;

    // The event that cuts every wait short; null for none. Must outlive the
    // stream.
    void SetWakeEvent(const platform::WakeEvent* wake) noexcept { m_pWake = wake; }
    const platform::WakeEvent* GetWakeEvent() const noexcept { return m_pWake; }

private:
    const platform::WakeEvent* m_pWake = nullptr;
};

// TCP over IPv4 or IPv6, plain or, after StartTls, encrypted: a non-blocking socket,
// every wait a poll on it and on the wake event.
class CTcpByteStream : public CByteStream {
public:
    CTcpByteStream() = default;
    ~CTcpByteStream() override;
    CTcpByteStream(const CTcpByteStream&) = delete;
    CTcpByteStream& operator=(const CTcpByteStream&) = delete;

    ConnectResult Connect(const std::string& host, int port, int timeoutMs, int* pnError) override;
    bool Send(std::string_view bytes, int timeoutMs, int* pnError) override;
    long Receive(char* buffer, std::size_t size, int timeoutMs, int* pnError) override;
    bool StartTls(const std::string& host, const platform::TlsPeerCheck& check, int timeoutMs, int* pnError,
                  std::string* psReason) override;
    void Close() noexcept override;
    bool IsOpen() const noexcept override { return m_socket != platform::kInvalidSocket; }

private:
    int m_socket = platform::kInvalidSocket;
    platform::TlsSession m_tls;
    // True from a failed StartTls until Close: the connection is in an
    // unknown state, and nothing may be sent on it in plain text.
    bool m_bBroken = false;
};

}  // namespace vantrel
