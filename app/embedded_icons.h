// The program's icon images (PNG, 16 to 128 px), embedded in the binary by the
// build (cmake/linux.cmake generates their definitions), so the window has its
// icon wherever the program runs from.
#pragma once

struct EmbeddedIcon {
    int size;  // width and height in pixels
    const unsigned char* data;
    unsigned long length;
};

extern const EmbeddedIcon VELLMIR_ICONS[];
extern const int VELLMIR_ICON_COUNT;
