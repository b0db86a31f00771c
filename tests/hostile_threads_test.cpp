// The Linux hand-offs from action threads to the main loop, under load: many
// threads asking for F1's navigation and F2's clearing at once, while the
// main loop runs, and while the window closes under them. Built in the
// ThreadSanitizer preset too, where any data race fails the run.
//
// Runs the real main window and game view on a private Xvfb; the game page's
// requests go to a proxy address that refuses them, so nothing leaves the
// machine.
#include "actions/game_actions.h"
#include "app/embedded_icons.h"
#include "app/game_view.h"
#include "app/main_window.h"
#include "hotkeys/hotkey_table.h"
#include "private_xvfb.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

// The window's icon images come from the program's build; none are needed here.
extern const EmbeddedIcon VELLMIR_ICONS[] = {{0, nullptr, 0}};
extern const int VELLMIR_ICON_COUNT = 0;

#if defined(__SANITIZE_THREAD__)
#define VELLMIR_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELLMIR_TSAN 1
#endif
#endif

#ifdef VELLMIR_TSAN
// GLib, GTK and WebKit are not built for ThreadSanitizer: it cannot see their
// own locks (futexes), so what they read and write inside is left out here,
// and their one promise that our hand-offs rely on is told to it below.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libgtk-3.so.0\n"
           "called_from_lib:libgdk-3.so.0\n"
           "called_from_lib:libwebkit2gtk-4.1.so.0\n"
           "called_from_lib:libjavascriptcoregtk-4.1.so.0\n"
           "called_from_lib:libsoup-3.0.so.0\n"
           "called_from_lib:libgdk_pixbuf-2.0.so.0\n"
           "called_from_lib:libfontconfig.so.1\n"
           "called_from_lib:libpango-1.0.so.0\n"
           "called_from_lib:libpangocairo-1.0.so.0\n"
           "called_from_lib:libpangoft2-1.0.so.0\n"
           "called_from_lib:libcairo.so.2\n"
           "mutex:libgdk_pixbuf-2.0.so.0\n"
           "mutex:libatk-1.0.so.0\n"
           "deadlock:libX11.so.6\n"
           "deadlock:libGLX.so.0\n";
}

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

namespace {
// g_idle_add_full is safe from any thread, and what the caller did before it
// happens before the callback runs on the main loop (GLib locks the context
// in between). The program's own hand-offs go through here, so this says
// exactly that much and no more.
struct HandedOver {
    GSourceFunc function;
    gpointer data;
    GDestroyNotify notify;
};
gboolean run_handed_over(gpointer p) {
    auto* h = static_cast<HandedOver*>(p);
    __tsan_acquire(h);
    return h->function(h->data);
}
void free_handed_over(gpointer p) {
    auto* h = static_cast<HandedOver*>(p);
    __tsan_acquire(h);
    if (h->notify != nullptr)
        h->notify(h->data);
    delete h;
}
}  // namespace

extern "C" guint g_idle_add_full(gint priority, GSourceFunc function, gpointer data,
                                 GDestroyNotify notify) {
    using Real = guint (*)(gint, GSourceFunc, gpointer, GDestroyNotify);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "g_idle_add_full"));
    auto* h = new HandedOver{function, data, notify};
    __tsan_release(h);
    return real(priority, run_handed_over, h, free_handed_over);
}
#endif

namespace {

// Half the threads press F1 over and over (a navigation each, never
// waiting), half press F2 (each waits for the main loop's answer).
constexpr int THREADS = 6;

std::string temp_root;

// A private X server and private XDG folders for the whole run.
class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char templ[] = "/tmp/vellmir-threads-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        temp_root = templ;
        for (const char* var : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
            const std::string dir = temp_root + "/" + var;
            ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
            setenv(var, dir.c_str(), 1);
        }
        setenv("http_proxy", "http://127.0.0.1:9", 1);  // discard port: refused at once
        setenv("no_proxy", "", 1);

        ASSERT_FALSE(xvfb_.start("1280x800x24", false).empty()) << "Xvfb did not start";
        gdk_set_allowed_backends("x11");
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    }

    void TearDown() override {
        xvfb_.stop();
        if (!temp_root.empty()) {
            const std::string cmd = "rm -rf '" + temp_root + "'";
            if (std::system(cmd.c_str()) != 0)
                std::fprintf(stderr, "could not remove %s\n", temp_root.c_str());
        }
    }

private:
    PrivateXvfb xvfb_;
};

GtkWidget* the_window() {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* w = windows; w != nullptr; w = w->next)
        if (gtk_widget_get_visible(GTK_WIDGET(w->data)))
            found = GTK_WIDGET(w->data);
    g_list_free(windows);
    return found;
}

// The threads stop on a relaxed flag: it orders nothing, so it cannot hide a
// race from ThreadSanitizer.
struct Storm {
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;

    void start() {
        for (int t = 0; t < THREADS; ++t)
            threads.emplace_back([this, t] {
                for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                    if (t % 2 == 1)
                        clear_browser_cache(HOTKEY_ID_BASE + 2);
                    else if (i % 2 == 0)
                        toggle_game_sound(HOTKEY_ID_BASE + 1);
                    else
                        navigate("about:blank");
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                ++done;
            });
    }
    bool finished() const { return done.load() == THREADS; }

    // Runs the main context for a while (requests keep coming), then stops
    // the threads and answers whatever is still queued until every thread
    // has had its answer.
    void finish(std::chrono::milliseconds more) {
        const auto until = std::chrono::steady_clock::now() + more;
        while (std::chrono::steady_clock::now() < until)
            g_main_context_iteration(nullptr, FALSE);
        stop.store(true, std::memory_order_relaxed);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!finished() && std::chrono::steady_clock::now() < limit)
            g_main_context_iteration(nullptr, FALSE);
        for (std::thread& t : threads)
            t.join();
    }
};

gboolean destroy_window(gpointer) {
    if (GtkWidget* window = the_window())
        gtk_widget_destroy(window);  // the main loop ends with the window
    return G_SOURCE_REMOVE;
}

gboolean close_window(gpointer) {
    if (GtkWidget* window = the_window())
        gtk_window_close(GTK_WINDOW(window));
    return G_SOURCE_REMOVE;
}

TEST(ThreadHandOff, ManyThreadsWhileTheMainLoopRuns) {
    ASSERT_TRUE(open_main_window());
    Storm storm;
    storm.start();
    std::thread([&storm] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        storm.stop.store(true, std::memory_order_relaxed);
    }).detach();
    // The loop serves the storm until every thread is done, then the window goes.
    g_timeout_add(10, [](gpointer data) -> gboolean {
        if (!static_cast<Storm*>(data)->finished())
            return G_SOURCE_CONTINUE;
        destroy_window(nullptr);
        return G_SOURCE_REMOVE;
    }, &storm);
    gtk_main();
    storm.finish(std::chrono::milliseconds(0));
    EXPECT_TRUE(storm.finished());
    EXPECT_EQ(the_window(), nullptr);
}

TEST(ThreadHandOff, ManyThreadsWhileTheWindowCloses) {
    ASSERT_TRUE(open_main_window());
    Storm storm;
    storm.start();
    // Closed while the requests pour in: the ones that arrive after are
    // dropped, and every thread still gets its answer.
    g_timeout_add(300, close_window, nullptr);
    gtk_main();
    storm.finish(std::chrono::milliseconds(300));
    EXPECT_TRUE(storm.finished());
    EXPECT_EQ(the_window(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);
    return RUN_ALL_TESTS();
}
