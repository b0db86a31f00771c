// Ruffle in WebKitGTK: its files come from our own URI scheme, and a user
// script, injected at document start, configures it and loads it on demand.
#include "app/webkit_flash_emulator.h"

#include "app/handshake.h"  // own_executable_path

#include <libsoup/soup.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#ifndef VELLMIR_FLASH_EMULATOR_INSTALLED
#define VELLMIR_FLASH_EMULATOR_INSTALLED "../share/vellmir/ruffle"
#endif

namespace {

// Runs at document start in every frame, before the page's own scripts. It
// sets Ruffle's configuration and then only watches for an <embed> or
// <object>: ruffle.js (about 450 KB) is fetched and parsed when one appears,
// so a page without them pays for this script alone. Ruffle itself then
// replaces the Flash content and keeps watching the page.
// It is a function of the base address of the emulator's files and of whether
// WebGL is drawn in software here, called with loader_script()'s arguments.
constexpr const char LOADER_SCRIPT[] = R"JS((function (base, softwareWebGL) {
  "use strict";
  // The top frame and frames of its origin; a frame of another site is left alone.
  if (window !== window.top) {
    try {
      if (window.top.origin !== window.origin) return;
    } catch (e) {
      return;
    }
  }
  var player = window.RufflePlayer = window.RufflePlayer || {};
  var config = player.config = player.config || {};
  config.publicPath = base;
  config.polyfills = true;
  config.autoplay = "on";
  config.unmuteOverlay = "hidden";
  config.splashScreen = false;
  config.letterbox = "off";
  // Ruffle's own choice is a WebGL renderer. Drawn by the CPU (llvmpipe and
  // the like), WebGL costs nearly twice the CPU of its 2D canvas renderer for
  // the same movie, and the first frame waits over a second longer for it.
  // A page that asks for a renderer itself sets this after us and keeps its own.
  if (softwareWebGL && config.preferredRenderer == null) config.preferredRenderer = "canvas";

  // Ruffle builds an Intl.Locale from navigator.language, which throws for a
  // tag such as "C" or "C.UTF-8" (a POSIX locale name passed on as is).
  try {
    new Intl.Locale(navigator.language);
  } catch (e) {
    var english = function () { return "en-US"; };
    var englishList = function () { return ["en-US"]; };
    Object.defineProperty(Navigator.prototype, "language", { get: english, configurable: true });
    Object.defineProperty(Navigator.prototype, "languages", { get: englishList, configurable: true });
  }

  // Ruffle comes with two builds of its WebAssembly module and takes the one
  // using the newer extensions when the browser has them all. Here the plain
  // build plays the first frame over a second sooner and costs no more CPU
  // while playing, so Ruffle's probe for SIMD gets a "no", once; after that,
  // WebAssembly.validate is the page's own again.
  var SIMD_PROBE = "0,97,115,109,1,0,0,0,1,5,1,96,0,1,123,3,2,1,0,10,10,1,8,0,65,0,253,15,253,98,11";
  function preferPlainBuild() {
    var validate = WebAssembly.validate;
    WebAssembly.validate = function (bytes) {
      if (bytes instanceof Uint8Array && bytes.length === 31 &&
          Array.prototype.join.call(bytes, ",") === SIMD_PROBE) {
        WebAssembly.validate = validate;
        return false;
      }
      return validate.apply(this, arguments);
    };
  }

  var loaded = false;
  var observer = null;
  function load() {
    if (loaded) return;
    loaded = true;
    if (observer) observer.disconnect();
    if (typeof WebAssembly === "object") preferPlainBuild();
    var script = document.createElement("script");
    script.src = base + "ruffle.js";
    (document.head || document.documentElement).appendChild(script);
  }
  function holdsPlugin(node) {
    if (node.nodeType !== 1) return false;
    var name = node.localName;
    return name === "embed" || name === "object" ||
      (node.firstElementChild !== null && node.querySelector("embed, object") !== null);
  }
  observer = new MutationObserver(function (records) {
    for (var i = 0; i < records.length; i++) {
      var added = records[i].addedNodes;
      for (var j = 0; j < added.length; j++) {
        if (holdsPlugin(added[j])) {
          load();
          return;
        }
      }
    }
  });
  observer.observe(document, { childList: true, subtree: true });
  if (document.documentElement && holdsPlugin(document.documentElement)) load();
}))JS";

// The loader, called with the base address of the emulator's files.
std::string loader_script(bool software_webgl) {
    return std::string(LOADER_SCRIPT) + "(\"" + FLASH_EMULATOR_SCHEME + "://emulator/\", " +
           (software_webgl ? "true" : "false") + ");\n";
}

// Mesa's reading of a yes/no variable.
bool env_says_yes(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return false;
    for (const char* yes : {"1", "true", "yes", "y"})
        if (g_ascii_strcasecmp(value, yes) == 0)
            return true;
    return false;
}

// True when WebGL in the web view would be drawn by the CPU: Mesa is told to
// draw in software, or there is no GPU render node (/dev/dri/renderD*) we may
// use, which leaves WebKit with Mesa's software rasteriser. (WebKit does not tell
// the page which GL it has: WEBGL_debug_renderer_info reads "Apple GPU".)
bool webgl_draws_in_software() {
    if (env_says_yes("LIBGL_ALWAYS_SOFTWARE"))
        return true;
    if (const char* driver = std::getenv("GALLIUM_DRIVER")) {
        for (const char* software : {"llvmpipe", "softpipe", "swr"})
            if (std::strcmp(driver, software) == 0)
                return true;
    }
    GDir* devices = g_dir_open("/dev/dri", 0, nullptr);
    if (devices == nullptr)
        return true;
    bool gpu = false;
    while (const char* name = g_dir_read_name(devices)) {
        if (g_str_has_prefix(name, "renderD")) {
            const std::string path = std::string("/dev/dri/") + name;
            if (access(path.c_str(), R_OK | W_OK) == 0) {
                gpu = true;
                break;
            }
        }
    }
    g_dir_close(devices);
    return !gpu;
}

// A bare file name: letters, digits, '.', '-', '_', not starting with '.'.
bool is_plain_name(const char* name) {
    if (name == nullptr || name[0] == '\0' || name[0] == '.')
        return false;
    for (const char* c = name; *c != '\0'; ++c) {
        const bool ok = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                        (*c >= '0' && *c <= '9') || *c == '.' || *c == '-' || *c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool ends_with(const char* text, const char* suffix) {
    const size_t n = std::strlen(text), m = std::strlen(suffix);
    return n >= m && std::strcmp(text + n - m, suffix) == 0;
}

const char* content_type_of(const char* name) {
    if (ends_with(name, ".wasm"))
        return "application/wasm";
    if (ends_with(name, ".js"))
        return "text/javascript";
    return "application/octet-stream";
}

void fail(WebKitURISchemeRequest* request, const char* name) {
    GError* error =
        g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "%s: no such file", name ? name : "");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

// <FLASH_EMULATOR_SCHEME>://emulator/<name> -> <folder>/<name>
void serve_file(WebKitURISchemeRequest* request, gpointer user_data) {
    const std::string& folder = *static_cast<const std::string*>(user_data);
    const char* path = webkit_uri_scheme_request_get_path(request);
    const char* name = (path != nullptr && path[0] == '/') ? path + 1 : path;
    if (!is_plain_name(name)) {
        fail(request, name);
        return;
    }
    const std::string file_path = folder + "/" + name;
    GFile* file = g_file_new_for_path(file_path.c_str());
    GFileInputStream* stream = g_file_read(file, nullptr, nullptr);
    g_object_unref(file);
    if (stream == nullptr) {
        fail(request, name);
        return;
    }
    gint64 size = -1;
    if (GFileInfo* info = g_file_input_stream_query_info(stream, G_FILE_ATTRIBUTE_STANDARD_SIZE,
                                                         nullptr, nullptr)) {
        size = g_file_info_get_size(info);
        g_object_unref(info);
    }
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(G_INPUT_STREAM(stream), size);
    webkit_uri_scheme_response_set_content_type(response, content_type_of(name));
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
    soup_message_headers_set_content_type(headers, content_type_of(name), nullptr);
    webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

void delete_folder(gpointer folder) { delete static_cast<std::string*>(folder); }

}  // namespace

std::string flash_emulator_folder() {
    // The executable's real folder: a link to the program finds the files
    // beside the program itself.
    char* exe = realpath(own_executable_path().c_str(), nullptr);
    if (exe == nullptr)
        return {};
    std::string dir(exe);
    std::free(exe);
    dir.erase(dir.rfind('/'));
    for (const char* relative : {"ruffle", VELLMIR_FLASH_EMULATOR_INSTALLED}) {
        const std::string folder = dir + "/" + relative;
        if (access((folder + "/ruffle.js").c_str(), R_OK) == 0)
            return folder;
    }
    return {};
}

void install_flash_emulator(WebKitWebContext* context, WebKitUserContentManager* content) {
    const std::string folder = flash_emulator_folder();
    if (folder.empty())
        return;

    webkit_web_context_register_uri_scheme(context, FLASH_EMULATOR_SCHEME, serve_file,
                                           new std::string(folder), delete_folder);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, FLASH_EMULATOR_SCHEME);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, FLASH_EMULATOR_SCHEME);

    WebKitUserScript* script = webkit_user_script_new(
        loader_script(webgl_draws_in_software()).c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
}
