// An RFB server of the tests' own, for what a real one will not do on demand: on a free loopback port, it runs a
// test's script with the one client that connects, on a thread of its own.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace zova::test {

class RfbPeer {
public:
    explicit RfbPeer(SOCKET s) noexcept : socket_(s) {}
    void Send(const std::vector<uint8_t>& bytes);
    // Exactly n bytes, or fewer if the client closed or `timeoutMs` passed.
    std::vector<uint8_t> Receive(size_t n, DWORD timeoutMs = 5000);

private:
    SOCKET socket_;
};

class RfbTestServer {
public:
    explicit RfbTestServer(std::function<void(RfbPeer&)> script);
    ~RfbTestServer();  // waits for the script
    uint16_t port() const noexcept { return port_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace zova::test
