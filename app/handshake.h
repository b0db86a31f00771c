// The start-up handshake: when the executable runs under a name ending in
// ".tmp", three zero bytes are written at the start of a shared-memory
// section that another process has created under HANDSHAKE_SECTION_NAME.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// "Roduv-IR" in GB2312 full-width forms (0xA3, c + 0x80 for each character):
// 16 bytes and a terminating zero, handed to the open call exactly as they are.
inline constexpr char HANDSHAKE_SECTION_NAME[17] = {
    '\xA3', '\xD2', '\xA3', '\xEF', '\xA3', '\xE4', '\xA3', '\xF5',
    '\xA3', '\xF6', '\xA3', '\xAD', '\xA3', '\xC9', '\xA3', '\xD2', '\0',
};
inline constexpr std::size_t HANDSHAKE_NAME_BYTES = 16;
inline constexpr std::size_t HANDSHAKE_ZERO_BYTES = 3;

// Tells whether a byte starts a two-byte character in the path's encoding.
using LeadByteTest = bool (*)(unsigned char byte);

// The file name part of a path: everything after the last separator, or the
// whole path when it has none. With a lead-byte test the scan steps over the
// second byte of each double-byte character, so a trail byte that equals the
// separator is never taken for one.
std::string_view executable_file_name(std::string_view path, char separator,
                                      LeadByteTest is_lead_byte = nullptr);

// True when the last four bytes (the whole name if shorter), with A-Z lowered,
// are ".tmp".
bool has_tmp_suffix(std::string_view file_name);

// Runs the handshake for this process: a no-op unless the executable's name
// ends in ".tmp".
void temp_name_handshake();

// Platform: the path of the running executable ("" when unknown).
std::string own_executable_path();
// Platform: the path separator and lead-byte test of own_executable_path().
char executable_path_separator();
LeadByteTest executable_path_lead_byte_test();
// Platform: open the existing section by the name bytes (never create it),
// write HANDSHAKE_ZERO_BYTES zero bytes at offset 0 if they fit, and keep the
// mapping until the process ends. Silent on every failure.
void clear_handshake_section(const char* name);
