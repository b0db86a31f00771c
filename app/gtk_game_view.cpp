// The game view on WebKitGTK: the browser's profile (folders, cookies,
// languages), the view itself with its error page and reload keys, and
// navigate() from any thread.
#include "actions/game_actions.h"
#include "app/game_view.h"
#include "app/gtk_game_view.h"
#include "app/webkit_flash_emulator.h"
#include "app/window_geometry.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char FOLDER_NAME[] = "vellmir";
constexpr char COOKIE_FILE[] = "cookies.sqlite";
constexpr char DOM_CACHE_FOLDER[] = "CacheStorage";

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
    // Left to itself, WebKit keeps HSTS data and the pages' Cache API stores
    // below the cache folder, where F2 deletes every file: they go with the
    // rest of what pages keep on purpose. Only the HTTP disk cache stays there.
    gchar* dom_cache_folder = g_build_filename(data_folder.c_str(), DOM_CACHE_FOLDER, nullptr);
    data_manager = webkit_website_data_manager_new(
        "base-data-directory", data_folder.c_str(), "base-cache-directory", cache_folder.c_str(),
        "hsts-cache-directory", data_folder.c_str(), "dom-cache-directory", dom_cache_folder,
        nullptr);
    g_free(dom_cache_folder);
    if (data_manager == nullptr)
        return nullptr;

    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data_manager);
    if (context == nullptr)
        return nullptr;
    // Through the context, once it exists: set on the data manager before it,
    // the cookie store made the context's creation about 13 ms slower here.
    gchar* cookie_file = g_build_filename(data_folder.c_str(), COOKIE_FILE, nullptr);
    webkit_cookie_manager_set_persistent_storage(
        webkit_web_context_get_cookie_manager(context), cookie_file,
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    g_free(cookie_file);
    const std::vector<std::string> languages = preferred_languages();
    std::vector<const gchar*> list;
    for (const std::string& l : languages)
        list.push_back(l.c_str());
    list.push_back(nullptr);
    webkit_web_context_set_preferred_languages(context, list.data());
    return context;
}

// Text for the inside of an HTML page: the five characters that mean
// something there are written as references.
std::string html_text(const char* text) {
    std::string result;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        switch (*c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&#39;"; break;
        default: result += *c;
        }
    }
    return result;
}

// The error page's words, and the language they are in.
struct ErrorWords {
    const char *language, *heading, *address, *reason, *retry;
    // For a page whose process ended under it: the heading, and the reason
    // for a crash and for running out of memory.
    const char *stopped, *crashed, *out_of_memory;
    // The reason for a host that took the connection and never answered.
    const char* no_answer;
};

// The error page's words in the user's language: Chinese where the first
// preferred language is Chinese (traditional characters for Taiwan, Hong Kong
// and Macau), English otherwise.
const ErrorWords& error_words() {
    static const ErrorWords english{"en",
                                    "This page could not be loaded",
                                    "Address:",
                                    "Reason:",
                                    "Press F5 to try again.",
                                    "This page has stopped",
                                    "The page's process ended unexpectedly.",
                                    "The page's process ran out of memory and was ended.",
                                    "The host did not answer for 60 seconds."};
    // 无法加载此网页 "this page could not be loaded", 地址： "address:",
    // 原因： "reason:", 按 F5 重试。 "press F5 to try again.",
    // 此网页已停止运行 "this page has stopped",
    // 网页进程意外结束。 "the page's process ended unexpectedly.",
    // 网页进程内存不足，已被结束。 "the page's process ran out of memory and
    // was ended.", 服务器 60 秒内没有应答。 "the host did not answer for 60
    // seconds."
    static const ErrorWords simplified{
        "zh-CN",
        "\xE6\x97\xA0\xE6\xB3\x95\xE5\x8A\xA0\xE8\xBD\xBD\xE6\xAD\xA4\xE7\xBD\x91\xE9\xA1\xB5",
        "\xE5\x9C\xB0\xE5\x9D\x80\xEF\xBC\x9A",
        "\xE5\x8E\x9F\xE5\x9B\xA0\xEF\xBC\x9A",
        "\xE6\x8C\x89 F5 \xE9\x87\x8D\xE8\xAF\x95\xE3\x80\x82",
        "\xE6\xAD\xA4\xE7\xBD\x91\xE9\xA1\xB5\xE5\xB7\xB2\xE5\x81\x9C\xE6\xAD\xA2\xE8\xBF\x90"
        "\xE8\xA1\x8C",
        "\xE7\xBD\x91\xE9\xA1\xB5\xE8\xBF\x9B\xE7\xA8\x8B\xE6\x84\x8F\xE5\xA4\x96\xE7\xBB\x93"
        "\xE6\x9D\x9F\xE3\x80\x82",
        "\xE7\xBD\x91\xE9\xA1\xB5\xE8\xBF\x9B\xE7\xA8\x8B\xE5\x86\x85\xE5\xAD\x98\xE4\xB8\x8D"
        "\xE8\xB6\xB3\xEF\xBC\x8C\xE5\xB7\xB2\xE8\xA2\xAB\xE7\xBB\x93\xE6\x9D\x9F\xE3\x80\x82",
        "\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8 60 \xE7\xA7\x92\xE5\x86\x85\xE6\xB2\xA1\xE6\x9C\x89"
        "\xE5\xBA\x94\xE7\xAD\x94\xE3\x80\x82"};
    // The same in traditional characters: 無法載入此網頁, 網址：, 原因：,
    // 按 F5 重試。, 此網頁已停止運作, 網頁處理程序意外結束。,
    // 網頁處理程序記憶體不足，已被結束。, 伺服器 60 秒內沒有回應。
    static const ErrorWords traditional{
        "zh-TW",
        "\xE7\x84\xA1\xE6\xB3\x95\xE8\xBC\x89\xE5\x85\xA5\xE6\xAD\xA4\xE7\xB6\xB2\xE9\xA0\x81",
        "\xE7\xB6\xB2\xE5\x9D\x80\xEF\xBC\x9A",
        "\xE5\x8E\x9F\xE5\x9B\xA0\xEF\xBC\x9A",
        "\xE6\x8C\x89 F5 \xE9\x87\x8D\xE8\xA9\xA6\xE3\x80\x82",
        "\xE6\xAD\xA4\xE7\xB6\xB2\xE9\xA0\x81\xE5\xB7\xB2\xE5\x81\x9C\xE6\xAD\xA2\xE9\x81\x8B"
        "\xE4\xBD\x9C",
        "\xE7\xB6\xB2\xE9\xA0\x81\xE8\x99\x95\xE7\x90\x86\xE7\xA8\x8B\xE5\xBA\x8F\xE6\x84\x8F"
        "\xE5\xA4\x96\xE7\xB5\x90\xE6\x9D\x9F\xE3\x80\x82",
        "\xE7\xB6\xB2\xE9\xA0\x81\xE8\x99\x95\xE7\x90\x86\xE7\xA8\x8B\xE5\xBA\x8F\xE8\xA8\x98"
        "\xE6\x86\xB6\xE9\xAB\x94\xE4\xB8\x8D\xE8\xB6\xB3\xEF\xBC\x8C\xE5\xB7\xB2\xE8\xA2\xAB"
        "\xE7\xB5\x90\xE6\x9D\x9F\xE3\x80\x82",
        "\xE4\xBC\xBA\xE6\x9C\x8D\xE5\x99\xA8 60 \xE7\xA7\x92\xE5\x85\xA7\xE6\xB2\x92\xE6\x9C\x89"
        "\xE5\x9B\x9E\xE6\x87\x89\xE3\x80\x82"};
    const std::string language = preferred_languages().front();
    if (language.compare(0, 2, "zh") != 0)
        return english;
    for (const char* region : {"zh-TW", "zh-HK", "zh-MO"})
        if (language.compare(0, 5, region) == 0)
            return traditional;
    return simplified;
}

// The browser's own page for a page that could not be loaded: what failed,
// why, and that F5 tries again. Plain, self-contained, and laid out in the
// part of the view that the window shows.
std::string error_page(const char* heading, const char* address, const char* reason) {
    const ErrorWords& words = error_words();
    const Rect shown = visible_page_rect();
    char box[160];
    std::snprintf(box, sizeof box, "left:%dpx;top:%dpx;width:%dpx;height:%dpx", shown.left,
                  shown.top, shown.width, shown.height);
    std::string page;
    page += "<!DOCTYPE html><html lang=\"";
    page += words.language;
    page += "\"><head><meta charset=\"utf-8\"><title>";
    page += heading;
    page +=
        "</title><style>"
        "html,body{margin:0;background:#f3f3f1;color:#1e1e1e;font:18px/1.5 sans-serif}"
        "#box{position:fixed;";
    page += box;
    page +=
        ";box-sizing:border-box;padding:64px 72px;overflow:hidden}"
        "h1{margin:0 0 28px;font-size:26px;font-weight:bold}"
        "p{margin:0 0 14px;overflow-wrap:anywhere}"
        ".what{font-weight:bold}"
        "</style></head><body><div id=\"box\"><h1>";
    page += heading;
    page += "</h1><p><span class=\"what\">";
    page += words.address;
    page += "</span> ";
    page += html_text(address);
    page += "</p><p><span class=\"what\">";
    page += words.reason;
    page += "</span> ";
    page += html_text(reason);
    page += "</p><p>";
    page += words.retry;
    page += "</p></div></body></html>";
    return page;
}

// The error page in place of what the view shows or is loading, under
// address, so that a reload asks for that address again. The address is
// copied first: it may be the view's own, which the load replaces.
void show_error_page(WebKitWebView* view, const char* heading, const char* address,
                     const char* reason) {
    const std::string base = address;
    const std::string page = error_page(heading, base.c_str(), reason);
    webkit_web_view_load_alternate_html(view, page.c_str(), base.c_str(), nullptr);
}

// A main-frame page that could not be loaded: the error page in its place,
// under the failed address, so that a reload tries that address again.
// Nothing retries by itself.
gboolean on_load_failed(WebKitWebView* view, WebKitLoadEvent, gchar* address, GError* error,
                        gpointer) {
    // A load that was stopped, turned into a download or handed elsewhere
    // did not fail: what is shown stays.
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
        g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD))
        return FALSE;
    show_error_page(view, error_words().heading, address, error != nullptr ? error->message : "");
    return TRUE;
}

// How long a page may take to start answering. WebKit itself waits for ever
// on a host that takes the connection and never answers, and the window would
// stay white with nothing said; after this the error page says so.
constexpr guint NO_ANSWER_SECONDS = 60;
guint no_answer_timer = 0;
// The address of the last navigation asked for. The view's own address stays
// the shown page's until the new one's answer arrives when the page itself
// navigates.
std::string asked_address;

// The watched load's address is the timer's data.
gboolean on_no_answer(gpointer address) {
    no_answer_timer = 0;
    if (game_view != nullptr && webkit_web_view_is_loading(game_view))
        show_error_page(game_view, error_words().heading, static_cast<const char*>(address),
                        error_words().no_answer);
    return G_SOURCE_REMOVE;
}

gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const gchar* address =
            webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        if (address != nullptr && g_ascii_strncasecmp(address, "javascript:", 11) != 0)
            asked_address = address;
    }
    return FALSE;  // decided as WebKit would
}

// A page's load is watched from its start until its answer begins to arrive.
void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (no_answer_timer != 0) {
        g_source_remove(no_answer_timer);
        no_answer_timer = 0;
    }
    if (event != WEBKIT_LOAD_STARTED && event != WEBKIT_LOAD_REDIRECTED)
        return;
    const gchar* shown = webkit_web_view_get_uri(view);
    const char* address = !asked_address.empty() ? asked_address.c_str()
                          : shown != nullptr     ? shown
                                                 : "";
    no_answer_timer = g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, NO_ANSWER_SECONDS,
                                                 on_no_answer, g_strdup(address), g_free);
}

// Set once the error page has replaced a page whose process ended, until the
// player reloads: if the error page's own process ends too, the view is left
// as it is rather than starting process after process.
bool stopped_page_shown = false;

// The page's process ended under it (it crashed, or the system ended it for
// its memory): left alone, the view would stay as it was, deaf to the keys.
// The error page takes its place under the same address, so that F5 loads
// the game again; nothing reloads by itself.
void on_web_process_terminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                               gpointer) {
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API || stopped_page_shown)
        return;
    stopped_page_shown = true;
    const ErrorWords& words = error_words();
    const gchar* shown = webkit_web_view_get_uri(view);
    show_error_page(
        view, words.stopped, shown != nullptr ? shown : GAME_PAGE_URL,
        reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? words.out_of_memory : words.crashed);
}

// The browser's own shortcut keys, while the view has the focus: F5 and
// Ctrl+R reload the page shown (on an error page, the address that failed).
// Every other key goes on to the page.
gboolean on_view_key_press(GtkWidget* view, GdkEventKey* event, gpointer) {
    const guint held = event->state & (GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_MOD1_MASK);
    const bool f5 = event->keyval == GDK_KEY_F5 && held == 0;
    const bool ctrl_r = gdk_keyval_to_lower(event->keyval) == GDK_KEY_r && held == GDK_CONTROL_MASK;
    if (!f5 && !ctrl_r)
        return FALSE;
    stopped_page_shown = false;
    webkit_web_view_reload(WEBKIT_WEB_VIEW(view));
    return TRUE;
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
    g_signal_connect(view, "decide-policy", G_CALLBACK(on_decide_policy), nullptr);
    g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
    g_signal_connect(view, "load-failed", G_CALLBACK(on_load_failed), nullptr);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(on_web_process_terminated),
                     nullptr);
    g_signal_connect(view, "key-press-event", G_CALLBACK(on_view_key_press), nullptr);
    game_view = WEBKIT_WEB_VIEW(view);
    return view;
}

void forget_game_view() { game_view = nullptr; }
