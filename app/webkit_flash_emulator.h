// Flash content in the game page, through the bundled Ruffle emulator
// (WebKitGTK only). Ruffle's files are served to pages from a URI scheme of
// our own, FLASH_EMULATOR_SCHEME, and a small user script loads Ruffle into a
// page once the page shows an <embed> or <object>.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

inline constexpr const char FLASH_EMULATOR_SCHEME[] = "vellmir-ruffle";

#if VELLMIR_FLASH_EMULATOR

// Call once, right after creating the context and the content manager and
// before the first web view loads anything. Registers the scheme (secure,
// CORS-enabled) on `context` and adds the user script to `content`. When the
// emulator's files are not found beside the executable, nothing is changed.
void install_flash_emulator(WebKitWebContext* context, WebKitUserContentManager* content);

// The folder holding ruffle.js, found from the executable's own path: the
// build tree's "ruffle/" beside it, else the installed one (by default
// "../share/vellmir/ruffle/" from the executable's folder).
// Empty when neither holds ruffle.js.
std::string flash_emulator_folder();

#else

// Built without the emulator (VELLMIR_FLASH_EMULATOR=OFF): pages are left alone.
inline void install_flash_emulator(WebKitWebContext*, WebKitUserContentManager*) {}

#endif
