// The byte streams an RFB connection reads and writes, big-endian helpers,
// and the error that ends a session. Every length a server sends is checked
// against a limit before anything is read or allocated for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zova::rfb {

// Why a session ended; the text is meant for a page author.
class SessionError : public std::runtime_error {
public:
    enum Kind { kLost, kRefused, kAuthentication, kMalformed, kUnsupported };
    SessionError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

// Reads exactly n bytes or throws SessionError (kLost).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual void Read(void* data, size_t n) = 0;

    uint8_t U8() { uint8_t b; Read(&b, 1); return b; }
    uint16_t U16() { uint8_t b[2]; Read(b, 2); return static_cast<uint16_t>(b[0] << 8 | b[1]); }
    uint32_t U32() {
        uint8_t b[4];
        Read(b, 4);
        return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
               static_cast<uint32_t>(b[2]) << 8 | b[3];
    }
    void Skip(size_t n) {
        uint8_t scratch[4096];
        while (n) {
            const size_t part = n < sizeof(scratch) ? n : sizeof(scratch);
            Read(scratch, part);
            n -= part;
        }
    }
    // A length-prefixed text of at most `limit` bytes; longer ones are
    // skipped and cut.
    std::string Text(size_t limit) {
        const uint32_t length = U32();
        std::string text(length < limit ? length : limit, '\0');
        if (!text.empty()) Read(&text[0], text.size());
        Skip(length - text.size());
        return text;
    }
};

// Writes whole messages; may be called from more than one thread.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(const void* data, size_t n) = 0;
};

// Builds one client message.
class Message {
public:
    Message& U8(uint8_t v) { bytes_.push_back(v); return *this; }
    Message& U16(uint16_t v) { return U8(static_cast<uint8_t>(v >> 8)).U8(static_cast<uint8_t>(v)); }
    Message& U32(uint32_t v) { return U16(static_cast<uint16_t>(v >> 16)).U16(static_cast<uint16_t>(v)); }
    Message& Bytes(const void* p, size_t n) {
        bytes_.insert(bytes_.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        return *this;
    }
    void SendTo(ByteSink& sink) const { sink.Write(bytes_.data(), bytes_.size()); }
    const std::vector<uint8_t>& bytes() const noexcept { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace zova::rfb
