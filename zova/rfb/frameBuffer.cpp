#include "zova/rfb/frameBuffer.h"

#include <algorithm>
#include <cstring>

namespace zova::rfb {

Rect Union(const Rect& a, const Rect& b) noexcept {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int right = std::max(a.x + a.width, b.x + b.width), bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

bool FrameBuffer::Resize(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxScreenSide || height > kMaxScreenSide ||
        static_cast<int64_t>(width) * height > kMaxScreenPixels) {
        return false;
    }
    pixels_.assign(static_cast<size_t>(width) * height, 0);
    width_ = width;
    height_ = height;
    return true;
}

bool FrameBuffer::Contains(const Rect& r) const noexcept {
    // In 64 bits: the sums of two 16-bit numbers cannot wrap.
    return r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0 &&
           static_cast<int64_t>(r.x) + r.width <= width_ && static_cast<int64_t>(r.y) + r.height <= height_;
}

void FrameBuffer::Fill(const Rect& r, uint32_t pixel) noexcept {
    for (int y = r.y; y < r.y + r.height; ++y) std::fill_n(Row(y) + r.x, r.width, pixel);
}

void FrameBuffer::Copy(const Rect& r, int fromX, int fromY) {
    // Through a copy of the source: the two may overlap in any direction.
    std::vector<uint32_t> source(static_cast<size_t>(r.width) * r.height);
    for (int y = 0; y < r.height; ++y) std::memcpy(&source[static_cast<size_t>(y) * r.width], Row(fromY + y) + fromX, r.width * 4u);
    for (int y = 0; y < r.height; ++y) std::memcpy(Row(r.y + y) + r.x, &source[static_cast<size_t>(y) * r.width], r.width * 4u);
}

void FrameBuffer::CopyFrom(const FrameBuffer& source, const Rect& r) noexcept {
    for (int y = r.y; y < r.y + r.height; ++y) std::memcpy(Row(y) + r.x, source.Row(y) + r.x, r.width * 4u);
}

}  // namespace zova::rfb
