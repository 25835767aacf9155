// Everything the master tells a person goes to standard error through here,
// so that a progress line never gets mixed into a message.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace console {

// Writes one line (a newline is added).
void line(const std::string& text);

// The slave's messages and the printed FMI calls: on standard error like any
// line, unless a file of their own was given for them (--log-file,
// --fmi-log-file), which then takes them and nothing else. Set before any
// slave runs; the file stays open for the program's life.
void setSlaveLog(std::FILE* file);
void setCallLog(std::FILE* file);
void slaveMessage(const std::string& text);
void fmiCall(const std::string& text);

// Replaces the progress line: shown only while standard error is a terminal.
void progress(const std::string& text);
void clearProgress();
bool isTerminal();

// The progress line of a run or a sweep: shown at most ten times a second
// and only once the work has taken half a second, so that short work stays
// quiet; erased when it goes.
class ProgressLine {
  public:
    explicit ProgressLine(bool enabled) : enabled_(enabled), begin_(Clock::now()), next_(begin_) {}
    ~ProgressLine() {
        clearProgress();
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool enabled() const {
        return enabled_;
    }
    // Whether to show the line again now; reads the clock.
    bool due() {
        if (!enabled_) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now < next_ || now - begin_ < std::chrono::milliseconds(500)) {
            return false;
        }
        next_ = now + std::chrono::milliseconds(100);
        return true;
    }

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    Clock::time_point begin_;
    Clock::time_point next_;
};

}  // namespace console
