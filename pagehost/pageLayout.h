// The page's one layout: controls left to right in rows, a new row when the
// next control would cross the right edge (a control alone in its row stays
// there however wide it is).
#pragma once

#include <windows.h>
#include <algorithm>

#include "pagehost/pageSource.h"

namespace pagehost {

constexpr SIZE kDefaultControl{300, 150};  // an object tag without a size, as in HTML

// A tag's width or height in pixels: its own, its percentage of `whole`, or
// `fallback` when the tag gives none.
inline LONG ResolveLength(const Length& l, LONG whole, LONG fallback) noexcept {
    if (!l.given) return fallback;
    return l.percent ? ::MulDiv(whole, l.value, 100) : l.value;
}

class RowFlow {
public:
    explicit RowFlow(LONG width) noexcept : width_(width) {}

    // The place of the next control of this size.
    RECT Place(SIZE size) noexcept {
        if (x_ > 0 && x_ + size.cx > width_) {
            x_ = 0;
            y_ += rowHeight_;
            rowHeight_ = 0;
        }
        const RECT rect{x_, y_, x_ + size.cx, y_ + size.cy};
        x_ += size.cx;
        rowHeight_ = std::max(rowHeight_, size.cy);
        return rect;
    }
    // The height of all rows so far.
    LONG Height() const noexcept { return y_ + rowHeight_; }

private:
    LONG width_;
    LONG x_ = 0, y_ = 0, rowHeight_ = 0;
};

}  // namespace pagehost
