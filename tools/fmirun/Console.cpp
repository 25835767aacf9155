#include "Console.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace console {

void line(const std::string& text);

namespace {

// Runs in several threads write their lines whole, one after another.
std::mutex writing;
bool progressShown = false;
std::FILE* slaveLog = nullptr;
std::FILE* callLog = nullptr;

void lineTo(std::FILE* file, const std::string& text) {
    if (file == nullptr) {
        line(text);
        return;
    }
    const std::lock_guard<std::mutex> lock(writing);
    std::fputs(text.c_str(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

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

void setSlaveLog(std::FILE* file) {
    slaveLog = file;
}

void setCallLog(std::FILE* file) {
    callLog = file;
}

void slaveMessage(const std::string& text) {
    lineTo(slaveLog, text);
}

void fmiCall(const std::string& text) {
    lineTo(callLog, text);
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
