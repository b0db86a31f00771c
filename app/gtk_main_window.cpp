// The main window and the game view on GTK 3 + WebKitGTK (X11).
#include "app/game_view.h"
#include "app/gtk_game_view.h"
#include "app/main_window.h"
#include "app/webkit_flash_emulator.h"
#include "app/window_geometry.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <thread>
#include <vector>

// The program's icon images, embedded by the build (cmake/linux.cmake).
struct EmbeddedIcon {
    int size;
    const unsigned char* data;
    unsigned long length;
};
extern const EmbeddedIcon VELLMIR_ICONS[];
extern const int VELLMIR_ICON_COUNT;

namespace {

constexpr char MAIN_WINDOW_TITLE[] = "Vellmir内嵌程序";
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

GList* load_icons() {
    GList* icons = nullptr;
    for (int i = 0; i < VELLMIR_ICON_COUNT; ++i) {
        GInputStream* stream = g_memory_input_stream_new_from_data(
            VELLMIR_ICONS[i].data, static_cast<gssize>(VELLMIR_ICONS[i].length), nullptr);
        if (GdkPixbuf* pixbuf = gdk_pixbuf_new_from_stream(stream, nullptr, nullptr))
            icons = g_list_append(icons, pixbuf);
        g_object_unref(stream);
    }
    return icons;
}

// The locale's languages as WebKit wants them ("de-AT"), "C"/"POSIX" being
// "en-US".
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
    data_manager = webkit_website_data_manager_new("base-data-directory", data_folder.c_str(),
                                                   "base-cache-directory", cache_folder.c_str(),
                                                   nullptr);
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

void on_window_destroy(GtkWidget*, gpointer) {
    // From here on, navigation and cache requests are dropped.
    game_view = nullptr;
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

// Esc closes the window only when the window itself has the focus: a key
// meant for the game view goes to it untouched.
gboolean on_key_press(GtkWidget* window, GdkEventKey* event, gpointer) {
    const guint held = event->state & (GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_MOD1_MASK);
    if (event->keyval == GDK_KEY_Escape && held == 0 &&
        gtk_window_get_focus(GTK_WINDOW(window)) == nullptr) {
        gtk_window_close(GTK_WINDOW(window));
        return TRUE;
    }
    return FALSE;
}

// Whenever the window gets the focus with none of its own, the game view
// takes it; otherwise GTK gives it back to the widget that had it.
gboolean on_focus_in(GtkWidget* window, GdkEventFocus*, gpointer) {
    if (game_view != nullptr && gtk_window_get_focus(GTK_WINDOW(window)) == nullptr)
        gtk_widget_grab_focus(GTK_WIDGET(game_view));
    return FALSE;
}

// Activation asked for before the window was viewable is lost without a
// window manager; ask again once it is mapped.
gboolean on_first_map(GtkWidget* window, GdkEvent*, gpointer) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(on_first_map),
                                         nullptr);
    gtk_window_present(GTK_WINDOW(window));
    return FALSE;
}

gboolean load_address(gpointer address) {
    if (game_view != nullptr)
        webkit_web_view_load_uri(game_view, static_cast<const char*>(address));
    return G_SOURCE_REMOVE;
}

}  // namespace

bool on_main_thread() {
    return std::this_thread::get_id() == main_thread_id;
}

WebKitWebsiteDataManager* game_view_data_manager() {
    return game_view != nullptr ? data_manager : nullptr;
}

std::string browser_data_folder() {
    return user_folder(g_get_user_data_dir());
}

std::string browser_cache_folder() {
    return user_folder(g_get_user_cache_dir());
}

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

bool open_main_window() {
    main_thread_id = std::this_thread::get_id();
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr)
        return false;

    // Centred on the primary monitor's whole area, panels included.
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr)
        monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle screen{0, 0, 0, 0};
    if (monitor != nullptr)
        gdk_monitor_get_geometry(monitor, &screen);
    const Rect place = main_window_rect(screen.width, screen.height);

    WebKitWebContext* context = create_web_context();
    if (context == nullptr)
        return false;
    WebKitSettings* settings = webkit_settings_new_with_settings(
        "hardware-acceleration-policy", WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, nullptr);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "settings", settings, nullptr));
    g_object_unref(settings);
    if (view == nullptr)
        return false;
    install_flash_emulator(context, webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view)));

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), MAIN_WINDOW_TITLE);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    gtk_window_move(GTK_WINDOW(window), screen.x + place.left, screen.y + place.top);
    GList* icons = load_icons();
    gtk_window_set_icon_list(GTK_WINDOW(window), icons);
    g_list_free_full(icons, g_object_unref);

    // A GtkLayout lets the view reach past the window on every side.
    GtkWidget* layout = gtk_layout_new(nullptr, nullptr);
    gtk_widget_set_size_request(layout, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    gtk_container_add(GTK_CONTAINER(window), layout);
    const Rect view_place = game_view_rect();
    gtk_widget_set_size_request(view, view_place.width, view_place.height);
    gtk_layout_put(GTK_LAYOUT(layout), view, view_place.left, view_place.top);
    gtk_widget_show_all(layout);

    // Move and minimise, nothing else: no resizing, no maximising.
    gtk_widget_realize(window);
    gdk_window_set_functions(gtk_widget_get_window(window),
                             static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE |
                                                        GDK_FUNC_CLOSE));

    g_signal_connect(window, "destroy", G_CALLBACK(on_window_destroy), nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(on_key_press), nullptr);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(on_first_map), nullptr);
    game_view = WEBKIT_WEB_VIEW(view);

    // What is already waiting is handled before the created event.
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);

    on_main_window_created();

    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(view);
    return true;
}
