// ZRLE rectangles (RFC 6143, 7.7.6) for the 32-bit true-colour format the
// client asks for, whose compressed pixels are three bytes (blue, green,
// red). One zlib stream runs through all ZRLE rectangles of a connection.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zova/rfb/frameBuffer.h"

namespace zova::rfb {

class ZrleDecoder {
public:
    ZrleDecoder();
    ~ZrleDecoder();

    // Decodes the compressed bytes of one rectangle (already checked to lie
    // inside `screen`) into it. Throws SessionError (kMalformed) on bad data.
    void Decode(const std::vector<uint8_t>& compressed, const Rect& r, FrameBuffer& screen);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

}  // namespace zova::rfb
