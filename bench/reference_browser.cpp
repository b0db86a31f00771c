// The benchmarks' reference: a bare WebKitGTK window showing the same page as
// Vellmir, with the same WebKit settings and storage, and nothing else: no
// hotkeys, no poll timer, no action threads, no handshake.
//
//   reference_browser [ADDRESS]     (default: the game page)
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

#include "app/program_facts.h"

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);

    const char* cache = g_get_user_cache_dir();
    const char* data = g_get_user_data_dir();
    const std::string cache_dir = std::string(cache) + "/vellmir-reference";
    const std::string data_dir = std::string(data) + "/vellmir-reference";
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
        "base-cache-directory", cache_dir.c_str(), "base-data-directory", data_dir.c_str(), nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
    const std::string cookies = data_dir + "/cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(webkit_web_context_get_cookie_manager(context),
                                                 cookies.c_str(),
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "reference");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* view = webkit_web_view_new_with_context(context);
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    gtk_container_add(GTK_CONTAINER(window), view);

    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argc > 1 ? argv[1] : GAME_PAGE_URL);
    gtk_widget_show_all(window);
    gtk_main();

    g_object_unref(context);
    g_object_unref(manager);
    return 0;
}
