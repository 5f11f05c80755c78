#include "tests/rfbStreams.h"

#include <zlib.h>

namespace zova::test {

Deflater::Deflater() : z_(new z_stream{}) { deflateInit(z_.get(), Z_DEFAULT_COMPRESSION); }
Deflater::~Deflater() { deflateEnd(z_.get()); }

std::vector<uint8_t> Deflater::Next(const std::vector<uint8_t>& tiles) {
    std::vector<uint8_t> out(tiles.size() + 1024);
    z_stream& z = *z_;
    z.next_in = const_cast<Bytef*>(tiles.data());
    z.avail_in = static_cast<uInt>(tiles.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_SYNC_FLUSH);
    out.resize(out.size() - z.avail_out);
    return out;
}

}  // namespace zova::test
