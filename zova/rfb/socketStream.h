// An RFB connection's TCP socket as the client's byte source and sink. Reads
// are buffered; writes from any thread go out whole; Close from any thread
// ends a blocked connect, recv or send.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "comfw/uniqueAny.h"
#include "zova/rfb/wire.h"

namespace zova::rfb {

struct SocketTraits {
    using type = SOCKET;
    static SOCKET invalid() noexcept { return INVALID_SOCKET; }
    static void close(SOCKET s) noexcept { ::closesocket(s); }
};
using unique_socket = comfw::unique_any<SocketTraits>;

class SocketStream final : public ByteSource, public ByteSink {
public:
    ~SocketStream() override { Close(); }

    // Resolves and connects; throws SessionError.
    void Connect(const std::string& host, uint16_t port);
    void Close() noexcept;

    void Read(void* data, size_t n) override;
    void Write(const void* data, size_t n) override;

private:
    void Fill();

    std::mutex lock_, writeLock_;
    unique_socket socket_;
    bool closed_ = false;
    uint8_t buffer_[65536];
    size_t at_ = 0, end_ = 0;
};

// Windows Sockets for the process, started once.
bool StartWinsock() noexcept;

}  // namespace zova::rfb
