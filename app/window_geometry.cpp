#include "window_geometry.h"

#include <cstdint>

namespace {

// (size - extent) / 2 in 64 bits, so that no int input overflows; the result
// always fits in an int again.
int centred(int size, int extent) {
    return static_cast<int>((static_cast<int64_t>(size) - extent) / 2);
}

}  // namespace

Rect main_window_rect(int screen_width, int screen_height) {
    return {centred(screen_width, MAIN_WINDOW_WIDTH), centred(screen_height, MAIN_WINDOW_HEIGHT),
            MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT};
}
