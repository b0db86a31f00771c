#include "hotkey_descriptions.h"

#include <utility>
#include <vector>

namespace {

// Main thread only: written while the hotkeys are bound, read when the desktop
// is asked for them.
std::vector<std::pair<int32_t, HotkeyDescription>> descriptions;

}  // namespace

void describe_hotkey(int32_t id, const HotkeyDescription& description) {
    if (id == 0)
        return;
    for (auto& known : descriptions) {
        if (known.first == id) {
            known.second = description;
            return;
        }
    }
    descriptions.emplace_back(id, description);
}

const HotkeyDescription* hotkey_description(int32_t id) {
    for (const auto& known : descriptions)
        if (known.first == id)
            return &known.second;
    return nullptr;
}
