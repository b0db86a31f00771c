// A private X server for a test program that needs a display: Xvfb picks a
// free display number and says it on a pipe (-displayfd); DISPLAY is set to
// it. Linux only.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class PrivateXvfb {
public:
    // Starts Xvfb with one screen of `size` ("640x480x24"). With `noreset`, the
    // server keeps its state (a keymap set by setxkbmap, say) when the last
    // client disconnects. The display's name ("" when it did not start).
    std::string start(const char* size, bool noreset) {
        int fds[2];
        if (pipe(fds) != 0)
            return {};
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", size, "-nolisten",
                   "tcp", noreset ? "-noreset" : static_cast<char*>(nullptr),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c;
        while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return {};
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
        return display_;
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};
