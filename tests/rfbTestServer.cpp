#include "tests/rfbTestServer.h"

#include <ws2tcpip.h>

#include "zova/rfb/socketStream.h"

namespace zova::test {

void RfbPeer::Send(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const int sent = ::send(socket_, reinterpret_cast<const char*>(bytes.data()) + at, static_cast<int>(bytes.size() - at), 0);
        if (sent <= 0) return;
        at += static_cast<size_t>(sent);
    }
}

std::vector<uint8_t> RfbPeer::Receive(size_t n, DWORD timeoutMs) {
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    std::vector<uint8_t> got(n);
    size_t at = 0;
    while (at < n) {
        const int r = ::recv(socket_, reinterpret_cast<char*>(got.data()) + at, static_cast<int>(n - at), 0);
        if (r <= 0) break;
        at += static_cast<size_t>(r);
    }
    got.resize(at);
    return got;
}

RfbTestServer::RfbTestServer(std::function<void(RfbPeer&)> script) {
    zova::rfb::StartWinsock();
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script] {
        const SOCKET s = ::accept(listener_, nullptr, nullptr);
        if (s == INVALID_SOCKET) return;
        RfbPeer peer(s);
        script(peer);
        ::shutdown(s, SD_BOTH);
        ::closesocket(s);
    });
}

RfbTestServer::~RfbTestServer() {
    ::closesocket(listener_);  // ends an accept that never got a client
    if (thread_.joinable()) thread_.join();
}

}  // namespace zova::test
