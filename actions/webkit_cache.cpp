// The F2 action's browser side on WebKitGTK: the game view's cached downloads
// (memory cache, disk cache, offline application cache).
// Cookies and whatever a page stored on purpose stay: local storage and
// IndexedDB hold game saves (the Flash emulator keeps SharedObjects there).
#include "actions/game_actions.h"
#include "app/gtk_game_view.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// Longest an action thread waits for WebKit to finish clearing. The window
// may close meanwhile, and then the answer never comes.
constexpr auto CLEAR_WAIT_LIMIT = std::chrono::seconds(60);

struct ClearRequest {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;

    void finish() {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        done_changed.notify_all();
    }
};

using SharedRequest = std::shared_ptr<ClearRequest>;

void on_cleared(GObject* manager, GAsyncResult* result, gpointer data) {
    std::unique_ptr<SharedRequest> request(static_cast<SharedRequest*>(data));
    webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager), result, nullptr);
    (*request)->finish();
}

// Main thread: start clearing, or give up at once when the view is gone.
gboolean start_clear(gpointer data) {
    auto* request = static_cast<SharedRequest*>(data);
    WebKitWebsiteDataManager* manager = game_view_data_manager();
    if (manager == nullptr) {
        (*request)->finish();
        delete request;
        return G_SOURCE_REMOVE;
    }
    const auto types = static_cast<WebKitWebsiteDataTypes>(
        WEBKIT_WEBSITE_DATA_MEMORY_CACHE | WEBKIT_WEBSITE_DATA_DISK_CACHE |
        WEBKIT_WEBSITE_DATA_OFFLINE_APPLICATION_CACHE);
    // A time span of 0 clears everything, whatever its age.
    webkit_website_data_manager_clear(manager, types, 0, nullptr, on_cleared, request);
    return G_SOURCE_REMOVE;
}

}  // namespace

void delete_url_cache_entries() {
    auto request = std::make_shared<ClearRequest>();
    if (on_main_thread()) {
        // Nothing to wait for here: the answer needs this very thread.
        start_clear(new SharedRequest(request));
        return;
    }
    g_idle_add_full(G_PRIORITY_DEFAULT, start_clear, new SharedRequest(request), nullptr);
    std::unique_lock<std::mutex> lock(request->mutex);
    // The folder walk comes after WebKit has let go of what it cleared.
    request->done_changed.wait_for(lock, CLEAR_WAIT_LIMIT, [&] { return request->done; });
}
