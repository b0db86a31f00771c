// F2's folder walk (delete_files_under) against `find DIR -type f -delete` on
// an identical tree, built afresh for every run. Prints each run, the medians
// and the ratio walk / find.
//
//   delete_files_bench [--files N] [--runs R] [--dir PARENT]
#include "actions/game_actions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int FANOUT = 10;  // folders per level, three levels: 1000 leaves

void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// FANOUT^3 leaf folders holding files / FANOUT^3 files each, plus a few at
// every inner level, the way a browser cache spreads its records.
long make_tree(const std::string& root, long files) {
    if (mkdir(root.c_str(), 0755) != 0)
        die(root.c_str());
    const long leaves = FANOUT * FANOUT * FANOUT;
    long made = 0;
    auto touch = [&](const std::string& dir, long count) {
        for (long i = 0; i < count && made < files; ++i, ++made) {
            const std::string path = dir + "/f" + std::to_string(i);
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                die(path.c_str());
            close(fd);
        }
    };
    const long inner = 2;  // files at each inner folder
    const long inner_total = inner * (1 + FANOUT + FANOUT * FANOUT);
    const long per_leaf = std::max(0L, files - inner_total) / leaves;
    touch(root, inner);
    for (int a = 0; a < FANOUT; ++a) {
        const std::string da = root + "/" + std::to_string(a);
        mkdir(da.c_str(), 0755);
        touch(da, inner);
        for (int b = 0; b < FANOUT; ++b) {
            const std::string db = da + "/" + std::to_string(b);
            mkdir(db.c_str(), 0755);
            touch(db, inner);
            for (int c = 0; c < FANOUT; ++c) {
                const std::string dc = db + "/" + std::to_string(c);
                mkdir(dc.c_str(), 0755);
                // The last leaf takes the remainder so the total is exact.
                const bool last = a == FANOUT - 1 && b == FANOUT - 1 && c == FANOUT - 1;
                touch(dc, last ? files - made : per_leaf);
            }
        }
    }
    return made;
}

long count_files(const std::string& dir) {
    long n = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return 0;
    while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        const std::string path = dir + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        n += S_ISDIR(st.st_mode) ? count_files(path) : 1;
    }
    closedir(d);
    return n;
}

int run(const std::vector<const char*>& argv) {
    const pid_t pid = fork();
    if (pid < 0)
        die("fork");
    if (pid == 0) {
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    long files = 100000;
    int runs = 5;
    std::string parent = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            parent = argv[i + 1];
    }
    std::string base_template = parent + "/vellmir-f2-bench-XXXXXX";
    std::vector<char> buf(base_template.begin(), base_template.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        die("mkdtemp");
    const std::string base = buf.data();

    std::printf("F2 walk vs find -type f -delete: %ld files per tree, %d runs, in %s\n",
                files, runs, base.c_str());
    std::printf("%-4s %-6s %10s %10s %8s\n", "run", "first", "walk_s", "find_s", "ratio");
    std::vector<double> walk_times, find_times, ratios;
    for (int r = 0; r < runs; ++r) {
        const std::string a = base + "/walk" + std::to_string(r);
        const std::string b = base + "/find" + std::to_string(r);
        make_tree(a, files);
        make_tree(b, files);
        sync();  // neither side pays for the other's writeback

        double walk_s = 0, find_s = 0;
        auto time_walk = [&] {
            const auto t0 = std::chrono::steady_clock::now();
            delete_files_under(a);
            walk_s = seconds_since(t0);
        };
        auto time_find = [&] {
            const auto t0 = std::chrono::steady_clock::now();
            if (run({"find", b.c_str(), "-type", "f", "-delete", nullptr}) != 0)
                std::fprintf(stderr, "find failed\n");
            find_s = seconds_since(t0);
        };
        const bool walk_first = r % 2 == 0;  // alternate, so order effects cancel
        if (walk_first) { time_walk(); time_find(); } else { time_find(); time_walk(); }

        const long left_a = count_files(a), left_b = count_files(b);
        if (left_a != 0 || left_b != 0)
            std::fprintf(stderr, "files left: walk %ld, find %ld\n", left_a, left_b);
        std::printf("%-4d %-6s %10.3f %10.3f %8.2f\n", r + 1, walk_first ? "walk" : "find",
                    walk_s, find_s, walk_s / find_s);
        walk_times.push_back(walk_s);
        find_times.push_back(find_s);
        ratios.push_back(walk_s / find_s);
        run({"rm", "-rf", a.c_str(), b.c_str(), nullptr});
    }
    run({"rm", "-rf", base.c_str(), nullptr});
    std::printf("median walk %.3f s, median find %.3f s, walk/find %.2f (median of per-run ratios %.2f)\n",
                median(walk_times), median(find_times), median(walk_times) / median(find_times),
                median(ratios));
    return 0;
}
