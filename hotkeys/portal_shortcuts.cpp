// The GlobalShortcuts portal client, on GDBus and the main loop.
//
// Start-up: connect to the session bus, read the portal's GlobalShortcuts
// version (no portal, or no such interface: stop here), create a session
// (handing the shortcuts over already, for desktops that take them there),
// ask which shortcuts the desktop knows for it, and bind ours only when some
// are missing, so that a desktop that remembers the user's answer is not
// asked again. Every portal request answers through a Response signal
// on a request object whose path we name ourselves (handle_token) and listen
// to before the call goes out. Nothing here waits for a reply.
#include "hotkeys/portal_shortcuts.h"

#include "hotkeys/hotkey_descriptions.h"
#include "hotkeys/hotkey_table.h"

#include <gio/gio.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char PORTAL_NAME[] = "org.freedesktop.portal.Desktop";
constexpr char PORTAL_PATH[] = "/org/freedesktop/portal/desktop";
constexpr char SHORTCUTS_INTERFACE[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr char SESSION_INTERFACE[] = "org.freedesktop.portal.Session";
constexpr char REQUEST_INTERFACE[] = "org.freedesktop.portal.Request";

// The same session token at every start: a desktop that keys a program's
// shortcuts on it (programs outside a sandbox have no app id) knows us again.
constexpr char SESSION_TOKEN[] = "vellmir";

constexpr guint32 RESPONSE_FAILED = 2;

struct Shortcut {
    std::string id;
    std::size_t position;  // in hotkey_table
    bool down;
    bool pressed;  // went down since the previous merge
};

struct PortalClient {
    bool started = false;
    GDBusConnection* bus = nullptr;
    PortalKeyEvent on_key_event = nullptr;
    std::string session;  // object path, once the portal created it
    std::vector<Shortcut> shortcuts;
    unsigned requests = 0;  // numbers the handle tokens
};

PortalClient portal;  // main thread only

bool wayland_session() {
    const char* display = g_getenv("WAYLAND_DISPLAY");
    return (display != nullptr && *display != '\0') ||
           g_strcmp0(g_getenv("XDG_SESSION_TYPE"), "wayland") == 0;
}

// Without an address, or the usual socket in the runtime folder, GLib would
// look for a bus by starting dbus-launch, on the calling thread. A session
// without a bus has no portal anyway.
bool session_bus_known() {
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0')
        return true;
    gchar* socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
    const bool found = g_file_test(socket, G_FILE_TEST_EXISTS) != FALSE;
    g_free(socket);
    return found;
}

bool chinese_locale() {
    const char* const* languages = g_get_language_names();
    return languages[0] != nullptr && std::strncmp(languages[0], "zh", 2) == 0;
}

// The shortcut's key as the desktop writes triggers: modifiers, then an XKB
// key name ("CTRL+F1"). Empty for a key without a plain name here: the
// desktop then lets the user choose.
std::string preferred_trigger(const HotkeyEntry& entry) {
    const unsigned vk = virtual_key_of(entry.key);
    std::string key;
    if (vk >= VK_F1_KEY && vk <= VK_F1_KEY + 23)
        key = "F" + std::to_string(vk - VK_F1_KEY + 1);
    else if (vk >= '0' && vk <= '9')
        key = std::string(1, static_cast<char>(vk));
    else if (vk >= 'A' && vk <= 'Z')
        key = std::string(1, static_cast<char>(vk - 'A' + 'a'));
    else if (vk >= 0x60 && vk <= 0x69)
        key = "KP_" + std::to_string(vk - 0x60);
    else {
        static const struct {
            unsigned vk;
            const char* name;
        } NAMED[] = {
            {0x08, "BackSpace"}, {0x09, "Tab"},         {0x0D, "Return"}, {0x13, "Pause"},
            {0x1B, "Escape"},    {0x20, "space"},       {0x21, "Prior"},  {0x22, "Next"},
            {0x23, "End"},       {0x24, "Home"},        {0x25, "Left"},   {0x26, "Up"},
            {0x27, "Right"},     {0x28, "Down"},        {0x2C, "Print"},  {0x2D, "Insert"},
            {0x2E, "Delete"},    {0x91, "Scroll_Lock"},
        };
        for (const auto& named : NAMED)
            if (named.vk == vk)
                key = named.name;
    }
    if (key.empty())
        return key;
    std::string trigger;
    if (entry.modifiers & MODIFIER_CTRL)
        trigger += "CTRL+";
    if (entry.modifiers & MODIFIER_ALT)
        trigger += "ALT+";
    if (entry.modifiers & MODIFIER_SHIFT)
        trigger += "SHIFT+";
    if (entry.modifiers & MODIFIER_LEFT_WIN)
        trigger += "LOGO+";
    return trigger + key;
}

// ---------------------------------------------------------------------------
// Requests

using ResponseHandler = void (*)(guint32 response, GVariant* results);

// Held by the Response subscription and by the method call; freed when both
// are done with it.
struct PendingRequest {
    ResponseHandler handler;
    guint subscription;
    int holders;
    bool answered;
};

void release_request(gpointer data) {
    auto* request = static_cast<PendingRequest*>(data);
    if (--request->holders == 0)
        delete request;
}

void answer_request(PendingRequest* request, guint32 response, GVariant* results) {
    if (request->answered)
        return;
    request->answered = true;
    const ResponseHandler handler = request->handler;
    // Unsubscribing may release the request already.
    g_dbus_connection_signal_unsubscribe(portal.bus, request->subscription);
    handler(response, results);
}

void on_response(GDBusConnection*, const char*, const char*, const char*, const char*,
                 GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
        return;
    guint32 response = RESPONSE_FAILED;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    answer_request(static_cast<PendingRequest*>(data), response, results);
    g_variant_unref(results);
}

void on_request_sent(GObject* bus, GAsyncResult* result, gpointer data) {
    auto* request = static_cast<PendingRequest*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
    if (reply != nullptr)
        g_variant_unref(reply);  // the request's path: ours, the answer comes as Response
    else
        answer_request(request, RESPONSE_FAILED, nullptr);
    if (error != nullptr)
        g_error_free(error);
    release_request(request);
}

std::string next_handle_token() { return "vellmir_" + std::to_string(++portal.requests); }

// Sends one portal request whose options (in parameters) carry
// handle_token = token; handler gets the answer, or RESPONSE_FAILED.
void send_request(const char* method, GVariant* parameters, const std::string& token,
                  ResponseHandler handler) {
    // The request's path is the caller's unique name without ':' and with
    // '.' as '_', then the token.
    std::string sender = g_dbus_connection_get_unique_name(portal.bus) + 1;
    for (char& c : sender)
        if (c == '.')
            c = '_';
    const std::string path = std::string(PORTAL_PATH) + "/request/" + sender + "/" + token;

    auto* request = new PendingRequest{handler, 0, 2, false};
    request->subscription = g_dbus_connection_signal_subscribe(
        portal.bus, PORTAL_NAME, REQUEST_INTERFACE, "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, on_response, request, release_request);
    g_dbus_connection_call(portal.bus, PORTAL_NAME, PORTAL_PATH, SHORTCUTS_INTERFACE, method,
                           parameters, G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           on_request_sent, request);
}

GVariant* options_with_token(const std::string& token) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return g_variant_builder_end(&options);
}

// ---------------------------------------------------------------------------
// The session

void on_bound(guint32, GVariant*) {
    // Accepted: Activated and Deactivated follow. Refused or failed: the X11
    // sampler alone, as without a portal. Either way nothing more to do; a
    // binding made later in the desktop's settings arrives as signals too.
}

// Ours, as the portal takes them: (id, {description, preferred_trigger}).
GVariant* shortcut_list() {
    const bool chinese = chinese_locale();
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    for (const Shortcut& shortcut : portal.shortcuts) {
        const HotkeyEntry& entry = *hotkey_table[shortcut.position];
        const HotkeyDescription* description = hotkey_description(entry.id);
        std::string text = "Hotkey " + std::to_string(entry.id - HOTKEY_ID_BASE);
        if (description != nullptr)
            text = chinese ? description->chinese : description->english;
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description",
                              g_variant_new_string(text.c_str()));
        const std::string trigger = preferred_trigger(entry);
        if (!trigger.empty())
            g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                                  g_variant_new_string(trigger.c_str()));
        g_variant_builder_add(&list, "(s@a{sv})", shortcut.id.c_str(),
                              g_variant_builder_end(&properties));
    }
    return g_variant_builder_end(&list);
}

void bind_shortcuts() {
    const std::string token = next_handle_token();
    send_request("BindShortcuts",
                 g_variant_new("(o@a(sa{sv})s@a{sv})", portal.session.c_str(), shortcut_list(), "",
                               options_with_token(token)),
                 token, on_bound);
}

void on_listed(guint32 response, GVariant* results) {
    // Bind only when the desktop does not know every one of ours yet. One it
    // knows, the user may have given another key or none: that stays.
    GVariant* known =
        results != nullptr && response == 0
            ? g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"))
            : nullptr;
    bool all_known = known != nullptr;
    for (const Shortcut& shortcut : portal.shortcuts) {
        if (!all_known)
            break;
        bool found = false;
        for (gsize i = 0, n = g_variant_n_children(known); i < n && !found; ++i) {
            const char* id = nullptr;
            g_variant_get_child(known, i, "(&s@a{sv})", &id, nullptr);
            found = shortcut.id == id;
        }
        all_known = found;
    }
    if (known != nullptr)
        g_variant_unref(known);
    if (!all_known)
        bind_shortcuts();
}

void release_all_shortcuts() {
    bool any = false;
    for (Shortcut& shortcut : portal.shortcuts) {
        any = any || shortcut.down;
        shortcut.down = false;
    }
    if (any && portal.on_key_event != nullptr)
        portal.on_key_event();
}

void on_session_closed(GDBusConnection*, const char*, const char*, const char*, const char*,
                       GVariant*, gpointer) {
    // The desktop ended the session: no more signals for it.
    release_all_shortcuts();
    portal.session.clear();
}

void on_session_created(guint32 response, GVariant* results) {
    if (response != 0 || results == nullptr)
        return;
    // Older portals hand the path over as a string, newer as an object path.
    const char* session = nullptr;
    if (!g_variant_lookup(results, "session_handle", "&s", &session) &&
        !g_variant_lookup(results, "session_handle", "&o", &session))
        return;
    portal.session = session;
    g_dbus_connection_signal_subscribe(portal.bus, PORTAL_NAME, SESSION_INTERFACE, "Closed",
                                       session, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       on_session_closed, nullptr, nullptr);

    const std::string token = next_handle_token();
    send_request("ListShortcuts",
                 g_variant_new("(o@a{sv})", portal.session.c_str(), options_with_token(token)),
                 token, on_listed);
}

void on_shortcut_signal(GDBusConnection*, const char*, const char*, const char*, const char* signal,
                        GVariant* parameters, gpointer) {
    const bool activated = std::strcmp(signal, "Activated") == 0;
    if ((!activated && std::strcmp(signal, "Deactivated") != 0) ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})")))
        return;
    const char* session = nullptr;
    const char* id = nullptr;
    g_variant_get_child(parameters, 0, "&o", &session);
    g_variant_get_child(parameters, 1, "&s", &id);
    if (portal.session.empty() || portal.session != session)
        return;
    for (Shortcut& shortcut : portal.shortcuts) {
        if (shortcut.id != id)
            continue;
        shortcut.down = activated;
        shortcut.pressed = shortcut.pressed || activated;
        if (portal.on_key_event != nullptr)
            portal.on_key_event();
        return;
    }
}

void create_session() {
    // Entries are only ever appended, so a position names one entry for good.
    portal.shortcuts.clear();
    for (std::size_t i = 0; i < hotkey_table.size(); ++i) {
        const HotkeyEntry& entry = *hotkey_table[i];
        const HotkeyDescription* description = hotkey_description(entry.id);
        std::string id = description != nullptr
                             ? description->name
                             : "hotkey-" + std::to_string(entry.id - HOTKEY_ID_BASE);
        portal.shortcuts.push_back(Shortcut{id, i, false, false});
    }
    if (portal.shortcuts.empty())
        return;
    const std::string token = next_handle_token();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(SESSION_TOKEN));
    // KDE Plasma 5.27 takes the shortcuts here and registers them at once
    // (its BindShortcuts opens the system settings instead); newer portals
    // drop this option.
    g_variant_builder_add(&options, "{sv}", "shortcuts", shortcut_list());
    send_request("CreateSession", g_variant_new("(a{sv})", &options), token, on_session_created);
}

void on_portal_version(GObject* bus, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
    if (reply == nullptr) {
        g_error_free(error);  // no portal, or one without GlobalShortcuts
        return;
    }
    g_variant_unref(reply);
    g_dbus_connection_signal_subscribe(portal.bus, PORTAL_NAME, SHORTCUTS_INTERFACE, nullptr,
                                       PORTAL_PATH, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       on_shortcut_signal, nullptr, nullptr);
    create_session();
}

void on_bus(GObject*, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    portal.bus = g_bus_get_finish(result, &error);
    if (portal.bus == nullptr) {
        g_error_free(error);
        return;
    }
    g_dbus_connection_call(portal.bus, PORTAL_NAME, PORTAL_PATH, "org.freedesktop.DBus.Properties",
                           "Get", g_variant_new("(ss)", SHORTCUTS_INTERFACE, "version"),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                           on_portal_version, nullptr);
}

}  // namespace

void start_portal_shortcuts(PortalKeyEvent on_key_event) {
    if (portal.started || !wayland_session() || !session_bus_known())
        return;
    portal.started = true;
    portal.on_key_event = on_key_event;
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, on_bus, nullptr);
}

void merge_portal_key_state(KeySnapshot& snapshot) {
    static const struct {
        int32_t bit;
        unsigned vk;
    } MODIFIERS[] = {
        {MODIFIER_ALT, VK_ALT_KEY},
        {MODIFIER_CTRL, VK_CONTROL_KEY},
        {MODIFIER_SHIFT, VK_SHIFT_KEY},
        {MODIFIER_LEFT_WIN, VK_LEFT_WIN_KEY},
    };
    for (Shortcut& shortcut : portal.shortcuts) {
        const bool pressed = shortcut.pressed;
        shortcut.pressed = false;
        if (shortcut.position >= hotkey_table.size() || (!shortcut.down && !pressed))
            continue;
        const HotkeyEntry& entry = *hotkey_table[shortcut.position];
        for (const auto& modifier : MODIFIERS) {
            int16_t& slot = snapshot.slot[modifier.vk];
            if (entry.modifiers & modifier.bit)
                slot = INT16_MIN;
            else if (slot < 0)
                slot = 0;
        }
        int16_t& slot = snapshot.slot[virtual_key_of(entry.key)];
        if (shortcut.down)
            slot = INT16_MIN;
        else if (slot == 0)
            slot = 1;
    }
}
