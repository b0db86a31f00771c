// What the program is, written once: its window, its page, its one message.
// Both platforms, the tests and the benchmarks' reference program read these.
#pragma once

#ifndef VELLMIR_GAME_HOST
#define VELLMIR_GAME_HOST "games.example"
#endif

// The main window's title, UTF-8 ("Vellmir" and 内嵌程序, "embedded program").
inline constexpr const char MAIN_WINDOW_TITLE[] =
    "Vellmir\xE5\x86\x85\xE5\xB5\x8C\xE7\xA8\x8B\xE5\xBA\x8F";

// The main window's client size; the window has no border, so also its size.
constexpr int MAIN_WINDOW_WIDTH = 941;
constexpr int MAIN_WINDOW_HEIGHT = 590;

// The game view in the window's client coordinates: larger than the window,
// so only the game's cut-out of the page shows.
constexpr int GAME_VIEW_LEFT = -51;
constexpr int GAME_VIEW_TOP = -80;
constexpr int GAME_VIEW_WIDTH = 1060;
constexpr int GAME_VIEW_HEIGHT = 680;

// The game page; the host is set at configure time (VELLMIR_GAME_HOST).
#define VELLMIR_GAME_PAGE_PATH "/flash/78072.htm"
inline constexpr const char GAME_PAGE_PATH[] = VELLMIR_GAME_PAGE_PATH;
inline constexpr const char GAME_PAGE_URL[] = "http://" VELLMIR_GAME_HOST VELLMIR_GAME_PAGE_PATH;

// Shown (a message box, or stderr without a display) when the main window
// cannot be opened; the process then ends with -1.
inline constexpr const char STARTUP_FAILED_MESSAGE[] = "Failed to load the startup window.";
// The short name, for that message box's title and the program's name.
inline constexpr const char PROGRAM_NAME[] = "Vellmir";
