#include "Console.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace console {

namespace {

// Runs in several threads write their lines whole, one after another.
std::mutex writing;
bool progressShown = false;

void clearProgressLine() {
    if (progressShown) {
        // Back to the line's start and erase to its end.
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

}  // namespace

bool isTerminal() {
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    return terminal;
}

void clearProgress() {
    const std::lock_guard<std::mutex> lock(writing);
    clearProgressLine();
}

void line(const std::string& text) {
    const std::lock_guard<std::mutex> lock(writing);
    clearProgressLine();
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void progress(const std::string& text) {
    if (!isTerminal()) {
        return;
    }
    const std::lock_guard<std::mutex> lock(writing);
    std::fputs("\r\033[K", stderr);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    progressShown = true;
}

}  // namespace console
