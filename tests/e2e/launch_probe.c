/* Preloaded into the program by the start-up test. Logs, in call order, one
 * line "KIND TEXT NUMBER" per call to the file named by VELLMIR_PROBE_LOG:
 *   load_uri ADDRESS 0      an address handed to the web view
 *   map - WINDOW            an X window mapped
 *   timeout OBJECT MS       a GLib timeout added by OBJECT (a file path)
 *   watch OBJECT FD         a file descriptor watched by a main-loop source
 *                           of OBJECT (the key sampler's X connection)
 * and passes every call on to the real function. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void log_line(const char* kind, const char* text, unsigned long number) {
    const char* path = getenv("VELLMIR_PROBE_LOG");
    if (path == NULL)
        return;
    char line[4096];
    int n = snprintf(line, sizeof line, "%s %s %lu\n", kind, text, number);
    if (n < 0)
        return;
    if ((size_t)n >= sizeof line)
        n = sizeof line - 1;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ssize_t written = write(fd, line, (size_t)n);
    (void)written;
    close(fd);
}

static void* next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

void webkit_web_view_load_uri(void* view, const char* uri) {
    log_line("load_uri", uri, 0);
    ((void (*)(void*, const char*))next("webkit_web_view_load_uri"))(view, uri);
}

int XMapWindow(void* display, unsigned long window) {
    log_line("map", "-", window);
    return ((int (*)(void*, unsigned long))next("XMapWindow"))(display, window);
}

int XMapRaised(void* display, unsigned long window) {
    log_line("map", "-", window);
    return ((int (*)(void*, unsigned long))next("XMapRaised"))(display, window);
}

static const char* caller_object(const void* address) {
    Dl_info caller;
    if (dladdr(address, &caller) != 0 && caller.dli_fname != NULL)
        return caller.dli_fname;
    return "?";
}

void* g_source_add_unix_fd(void* source, int fd, int events) {
    log_line("watch", caller_object(__builtin_return_address(0)), (unsigned long)fd);
    return ((void* (*)(void*, int, int))next("g_source_add_unix_fd"))(source, fd, events);
}

unsigned int g_timeout_add(unsigned int interval, void* function, void* data) {
    log_line("timeout", caller_object(__builtin_return_address(0)), interval);
    return ((unsigned int (*)(unsigned int, void*, void*))next("g_timeout_add"))(interval,
                                                                                function, data);
}
