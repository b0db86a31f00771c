// The game view on WebKitGTK: the browser's profile (folders, cookies,
// languages), the view itself, and navigate() from any thread.
#include "app/game_view.h"
#include "app/gtk_game_view.h"
#include "app/webkit_flash_emulator.h"
#include "app/window_geometry.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char FOLDER_NAME[] = "vellmir";
constexpr char COOKIE_FILE[] = "cookies.sqlite";

// Main thread only. game_view is cleared as soon as the window starts to go
// away, so a request handled after that finds nothing to drive.
std::thread::id main_thread_id;
WebKitWebView* game_view = nullptr;
WebKitWebsiteDataManager* data_manager = nullptr;

std::string user_folder(const char* base) {
    gchar* path = g_build_filename(base, FOLDER_NAME, nullptr);
    std::string result = path;
    g_free(path);
    return result;
}

std::vector<std::string> preferred_languages() {
    std::vector<std::string> languages;
    for (const gchar* const* name = g_get_language_names(); *name != nullptr; ++name) {
        std::string language = *name;
        if (language == "C" || language == "POSIX")
            language = "en-US";
        else if (language.find_first_of(".@") != std::string::npos)
            continue;  // "de_AT.UTF-8" also comes as plain "de_AT"
        for (char& c : language)
            if (c == '_')
                c = '-';
        bool known = false;
        for (const std::string& l : languages)
            known = known || l == language;
        if (!known)
            languages.push_back(language);
    }
    if (languages.empty())
        languages.emplace_back("en-US");
    return languages;
}

WebKitWebContext* create_web_context() {
    const std::string data_folder = browser_data_folder();
    const std::string cache_folder = browser_cache_folder();
    data_manager =
        webkit_website_data_manager_new("base-data-directory", data_folder.c_str(),
                                        "base-cache-directory", cache_folder.c_str(), nullptr);
    if (data_manager == nullptr)
        return nullptr;
    gchar* cookie_file = g_build_filename(data_folder.c_str(), COOKIE_FILE, nullptr);
    webkit_cookie_manager_set_persistent_storage(
        webkit_website_data_manager_get_cookie_manager(data_manager), cookie_file,
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    g_free(cookie_file);

    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data_manager);
    if (context == nullptr)
        return nullptr;
    const std::vector<std::string> languages = preferred_languages();
    std::vector<const gchar*> list;
    for (const std::string& l : languages)
        list.push_back(l.c_str());
    list.push_back(nullptr);
    webkit_web_context_set_preferred_languages(context, list.data());
    return context;
}

gboolean load_address(gpointer address) {
    if (game_view != nullptr)
        webkit_web_view_load_uri(game_view, static_cast<const char*>(address));
    return G_SOURCE_REMOVE;
}

}  // namespace

bool on_main_thread() { return std::this_thread::get_id() == main_thread_id; }

WebKitWebsiteDataManager* game_view_data_manager() {
    return game_view != nullptr ? data_manager : nullptr;
}

std::string browser_data_folder() { return user_folder(g_get_user_data_dir()); }

std::string browser_cache_folder() { return user_folder(g_get_user_cache_dir()); }

void navigate(const char* address) {
    if (on_main_thread()) {
        load_address(const_cast<char*>(address));
        return;
    }
    // Handed to the main loop with a copy of the address. Never run on the
    // calling thread, even once the loop has ended: then it simply stays
    // queued until the process exits.
    g_idle_add_full(G_PRIORITY_DEFAULT, load_address, g_strdup(address), g_free);
}
GtkWidget* create_game_view() {
    main_thread_id = std::this_thread::get_id();
    WebKitWebContext* context = create_web_context();
    if (context == nullptr)
        return nullptr;
    WebKitSettings* settings = webkit_settings_new_with_settings(
        "hardware-acceleration-policy", WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, nullptr);
    // The game's sound plays from the start, as it did in the browser control
    // of old: no click needed before the page may play audio.
    WebKitWebsitePolicies* policies =
        webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr);
    GtkWidget* view =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings", settings,
                                "website-policies", policies, nullptr));
    g_object_unref(policies);
    g_object_unref(settings);
    if (view == nullptr)
        return nullptr;
    install_flash_emulator(context,
                           webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view)));
    const Rect place = game_view_rect();
    gtk_widget_set_size_request(view, place.width, place.height);
    game_view = WEBKIT_WEB_VIEW(view);
    return view;
}

void forget_game_view() { game_view = nullptr; }
