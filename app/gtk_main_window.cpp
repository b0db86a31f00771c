// The main window on GTK 3 (X11): borderless, 941 x 590, centred on the
// primary monitor, filled by the game view (app/gtk_game_view.cpp).
#include "app/embedded_icons.h"
#include "app/gtk_game_view.h"
#include "app/main_window.h"
#include "app/window_geometry.h"

#include <gtk/gtk.h>

namespace {

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

// The game view's widget while the window is up; cleared as it goes away.
GtkWidget* game_view_widget = nullptr;

void on_window_destroy(GtkWidget*, gpointer) {
    // From here on, navigation and cache requests are dropped.
    forget_game_view();
    game_view_widget = nullptr;
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
    if (game_view_widget != nullptr && gtk_window_get_focus(GTK_WINDOW(window)) == nullptr)
        gtk_widget_grab_focus(game_view_widget);
    return FALSE;
}

// The icons are decoded once the window is up and drawn: the first show does
// not wait for them.
gboolean set_icons(gpointer window) {
    if (!gtk_widget_in_destruction(GTK_WIDGET(window))) {
        GList* icons = load_icons();
        gtk_window_set_icon_list(GTK_WINDOW(window), icons);
        g_list_free_full(icons, g_object_unref);
    }
    return G_SOURCE_REMOVE;
}

// Activation asked for before the window was viewable is lost without a
// window manager; ask again once it is mapped.
gboolean on_first_map(GtkWidget* window, GdkEvent*, gpointer) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(on_first_map), nullptr);
    gtk_window_present(GTK_WINDOW(window));
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, set_icons, g_object_ref(window), g_object_unref);
    return FALSE;
}

}  // namespace

bool open_main_window() {
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

    GtkWidget* view = create_game_view();
    if (view == nullptr)
        return false;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), MAIN_WINDOW_TITLE);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    gtk_window_move(GTK_WINDOW(window), screen.x + place.left, screen.y + place.top);

    // A GtkLayout lets the view reach past the window on every side.
    GtkWidget* layout = gtk_layout_new(nullptr, nullptr);
    gtk_widget_set_size_request(layout, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    gtk_container_add(GTK_CONTAINER(window), layout);
    const Rect view_place = game_view_rect();
    gtk_layout_put(GTK_LAYOUT(layout), view, view_place.left, view_place.top);
    gtk_widget_show_all(layout);

    // Move and minimise, nothing else: no resizing, no maximising.
    gtk_widget_realize(window);
    gdk_window_set_functions(
        gtk_widget_get_window(window),
        static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE));

    g_signal_connect(window, "destroy", G_CALLBACK(on_window_destroy), nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(on_key_press), nullptr);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(on_first_map), nullptr);
    game_view_widget = view;

    // What is already waiting is handled before the created event.
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);

    on_main_window_created();

    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(view);
    return true;
}
