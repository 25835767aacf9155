#include "Console.h"

#include <unistd.h>

#include <cstdio>

namespace console {

namespace {
bool progressShown = false;
}

bool isTerminal() {
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    return terminal;
}

void clearProgress() {
    if (progressShown) {
        // Back to the line's start and erase to its end.
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

void line(const std::string& text) {
    clearProgress();
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void progress(const std::string& text) {
    if (!isTerminal()) {
        return;
    }
    std::fputs("\r\033[K", stderr);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    progressShown = true;
}

}  // namespace console
