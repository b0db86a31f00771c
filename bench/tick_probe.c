/* Preloaded into Vellmir by the benchmarks. The key sampler asks the server
 * for the key state with XQueryKeymap on the main thread (on every tick where
 * it cannot follow key events, else only to resynchronise), and F2's walk
 * removes files with unlinkat on its action thread; this records the time of
 * every XQueryKeymap and of the first and last removal into a file that the
 * benchmark maps while the program runs (VELLMIR_TICK_LOG). Nothing else
 * changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#define MAX_TICKS (1u << 20)

struct TickLog {
    uint64_t ticks;          /* entries used in tick_ns */
    uint64_t unlinks;
    uint64_t first_unlink_ns;
    uint64_t last_unlink_ns;
    uint64_t tick_ns[MAX_TICKS];
};

static struct TickLog* log_map;

static uint64_t now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

__attribute__((constructor)) static void open_log(void) {
    const char* path = getenv("VELLMIR_TICK_LOG");
    if (path == NULL)
        return;
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    /* Only the program itself: WebKit's helper processes inherit the
     * environment, and must neither load this nor reset the log. */
    unsetenv("VELLMIR_TICK_LOG");
    unsetenv("LD_PRELOAD");
    if (fd < 0)
        return;
    if (ftruncate(fd, sizeof(struct TickLog)) == 0) {
        void* p = mmap(NULL, sizeof(struct TickLog), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED)
            log_map = p;
    }
    close(fd);
}

int XQueryKeymap(void* display, char keys[32]) {
    static int (*real)(void*, char*);
    if (real == NULL)
        real = (int (*)(void*, char*))dlsym(RTLD_NEXT, "XQueryKeymap");
    if (log_map != NULL && log_map->ticks < MAX_TICKS)
        log_map->tick_ns[__atomic_fetch_add(&log_map->ticks, 1, __ATOMIC_RELAXED)] = now_ns();
    return real(display, keys);
}

int unlinkat(int dirfd, const char* path, int flags) {
    static int (*real)(int, const char*, int);
    if (real == NULL)
        real = (int (*)(int, const char*, int))dlsym(RTLD_NEXT, "unlinkat");
    int result = real(dirfd, path, flags);
    if (log_map != NULL) {
        uint64_t t = now_ns();
        uint64_t zero = 0;
        __atomic_compare_exchange_n(&log_map->first_unlink_ns, &zero, t, 0, __ATOMIC_RELAXED,
                                    __ATOMIC_RELAXED);
        __atomic_store_n(&log_map->last_unlink_ns, t, __ATOMIC_RELAXED);
        __atomic_fetch_add(&log_map->unlinks, 1, __ATOMIC_RELAXED);
    }
    return result;
}
