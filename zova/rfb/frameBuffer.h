// The guest screen as the session's reader thread builds it: 32-bit pixels
// 0x00RRGGBB, rows top-down, which is also the layout of a top-down 32-bit
// DIB. Sizes are bounded, and every rectangle is checked against the screen
// before a pixel is touched.
#pragma once

#include <cstdint>
#include <vector>

namespace zova::rfb {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const noexcept { return width <= 0 || height <= 0; }
};

// The union of two rectangles (an empty one adds nothing).
Rect Union(const Rect& a, const Rect& b) noexcept;

// The largest screen a server may announce.
constexpr int kMaxScreenSide = 8192;
constexpr int64_t kMaxScreenPixels = 4096LL * 4096;

class FrameBuffer {
public:
    // False if the size is beyond the limits (the buffer stays as it was).
    bool Resize(int width, int height);
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    bool Contains(const Rect& r) const noexcept;

    uint32_t* Row(int y) noexcept { return pixels_.data() + static_cast<size_t>(y) * width_; }
    const uint32_t* Row(int y) const noexcept { return pixels_.data() + static_cast<size_t>(y) * width_; }
    const std::vector<uint32_t>& pixels() const noexcept { return pixels_; }

    void Fill(const Rect& r, uint32_t pixel) noexcept;
    // Copies `r` from `from` (top-left corner), overlapping or not.
    void Copy(const Rect& r, int fromX, int fromY);
    // Copies rectangle `r` of `source` (same size) into this buffer.
    void CopyFrom(const FrameBuffer& source, const Rect& r) noexcept;

private:
    int width_ = 0, height_ = 0;
    std::vector<uint32_t> pixels_;
};

}  // namespace zova::rfb
