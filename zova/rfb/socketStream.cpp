#include "zova/rfb/socketStream.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "comfw/scopeExit.h"

namespace zova::rfb {

bool StartWinsock() noexcept {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

void SocketStream::Connect(const std::string& host, uint16_t port) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        throw SessionError(SessionError::kLost, "The host name " + host + " could not be resolved");
    }
    const auto release = comfw::scope_exit([found] { ::freeaddrinfo(found); });
    int error = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        unique_socket created(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!created) continue;
        const SOCKET s = created.get();
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (closed_) break;
            socket_ = std::move(created);  // where Close finds it while connect waits
        }
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            const BOOL noDelay = TRUE;  // key and pointer events go out at once
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
            return;
        }
        error = ::WSAGetLastError();
        std::lock_guard<std::mutex> hold(lock_);
        socket_.reset();
    }
    throw SessionError(SessionError::kRefused, "The connection to " + host + ":" + std::to_string(port) +
                                                   " was refused or could not be made (error " +
                                                   std::to_string(error) + ")");
}

void SocketStream::Close() noexcept {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    if (socket_) ::shutdown(socket_.get(), SD_BOTH);
    socket_.reset();
}

void SocketStream::Read(void* data, size_t n) {
    auto* out = static_cast<uint8_t*>(data);
    while (n) {
        if (at_ == end_) Fill();
        const size_t part = std::min(n, end_ - at_);
        std::memcpy(out, buffer_ + at_, part);
        at_ += part;
        out += part;
        n -= part;
    }
}

void SocketStream::Write(const void* data, size_t n) {
    std::lock_guard<std::mutex> hold(writeLock_);
    const char* p = static_cast<const char*>(data);
    while (n) {
        const int sent = ::send(socket_.get(), p, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
        if (sent <= 0) throw SessionError(SessionError::kLost, "The connection to the server was lost");
        p += sent;
        n -= static_cast<size_t>(sent);
    }
}

void SocketStream::Fill() {
    const int got = ::recv(socket_.get(), reinterpret_cast<char*>(buffer_), sizeof(buffer_), 0);
    if (got == 0) throw SessionError(SessionError::kLost, "The server closed the connection");
    if (got < 0) {
        throw SessionError(SessionError::kLost,
                           "The connection to the server was lost (error " + std::to_string(::WSAGetLastError()) + ")");
    }
    at_ = 0;
    end_ = static_cast<size_t>(got);
}

}  // namespace zova::rfb
