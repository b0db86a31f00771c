// Start-up and shutdown on Linux: GTK on X11, the handshake, the main window,
// the main loop, and the exit status.
#include "app/handshake.h"
#include "app/main_window.h"
#include "app/program_facts.h"
#include "hotkeys/hotkey_poller.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/portal_shortcuts.h"
#include "hotkeys/x11_key_events.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int EXIT_STARTUP_FAILED = 255;  // -1 as an exit status

void report_startup_failure(bool have_display) {
    if (have_display) {
        GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                                   GTK_BUTTONS_OK, "%s", STARTUP_FAILED_MESSAGE);
        gtk_window_set_title(GTK_WINDOW(dialog), PROGRAM_NAME);
        gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
    } else {
        std::fprintf(stderr, "vellmir: %s (no X display)\n", STARTUP_FAILED_MESSAGE);
    }
}

// Action threads are never waited for. Leaving through _exit keeps them from
// racing static destructors and library teardown on the way out.
[[noreturn]] void end_process(int status) {
    std::fflush(nullptr);
    _exit(status);
}

int start_program() {
    // X11 only: global key state needs it (Wayland sessions run us through
    // XWayland). Command-line arguments are not looked at.
    gdk_set_allowed_backends("x11");
    g_set_prgname("vellmir");
    g_set_application_name(PROGRAM_NAME);
    const bool have_display = gtk_init_check(nullptr, nullptr) != FALSE;

    temp_name_handshake();

    if (!open_main_window()) {
        report_startup_failure(have_display);
        end_process(EXIT_STARTUP_FAILED);
    }
    // On a Wayland session the desktop may hand out global shortcuts as well;
    // each of their presses and releases is sampled at once.
    start_portal_shortcuts(tick_on_key_event);
    // The main loop runs until the main window is destroyed; if it is gone
    // already, there is nothing to run it for.
    GList* windows = gtk_window_list_toplevels();
    if (windows != nullptr)
        gtk_main();
    g_list_free(windows);
    release_hotkey_table();
    return 0;
}

}  // namespace

int main() {
    end_process(start_program());
}
