#include "handshake.h"

std::string_view executable_file_name(std::string_view path, char separator,
                                      LeadByteTest is_lead_byte) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (is_lead_byte != nullptr && is_lead_byte(byte) && i + 1 < path.size()) {
            ++i;  // the trail byte is part of the same character
            continue;
        }
        if (path[i] == separator)
            start = i + 1;
    }
    return path.substr(start);
}

bool has_tmp_suffix(std::string_view file_name) {
    constexpr std::string_view suffix = ".tmp";
    if (file_name.size() < suffix.size())
        return false;  // fewer than four bytes can never equal ".tmp"
    const std::string_view tail = file_name.substr(file_name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

void temp_name_handshake() {
    const std::string path = own_executable_path();
    const std::string_view name = executable_file_name(
        path, executable_path_separator(), executable_path_lead_byte_test());
    if (has_tmp_suffix(name))
        clear_handshake_section(HANDSHAKE_SECTION_NAME);
}
