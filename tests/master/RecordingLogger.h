// A master-side logger that keeps everything a slave reports, so tests can check the messages,
// their arguments and the state the slave was in when it logged.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FmiTypes.h"

// One argument the logger fetched for one conversion of the message format. Only the field of
// the conversion's kind is meaningful; the others stay zero or empty.
struct LogArgument {
    // The conversion character: 'd', 'i', 'u', 'o', 'x', 'X', 'c', 's', 'p', 'n', 'f', 'F',
    // 'e', 'E', 'g', 'G', 'a' or 'A'; '*' for a width or precision taken from the arguments.
    char conversion = 0;
    // The whole directive as written in the format, e.g. "%.16g" or "%-8s".
    std::string directive;
    long long integer = 0;                   // d, i, c and '*' (after any hh/h narrowing)
    unsigned long long unsignedInteger = 0;  // u, o, x, X (after any hh/h narrowing)
    double real = 0.0;                       // f, F, e, E, g, G, a, A
    // The bits of `real` exactly as fetched. On 32-bit x86 every copy of a double through the
    // x87 unit (a struct copy included) quietens a signalling NaN; this copy is immune.
    std::uint64_t realBits = 0;
    const void* pointer = nullptr;  // p and n (n is never written through)
    bool isNullString = false;      // s with a null pointer
    std::string text;               // s: the string's contents (empty when null)
};

struct LogRecord {
    fmiComponent component = nullptr;
    bool instanceNameIsNull = false;
    std::string instanceName;
    fmiStatus status = fmiOK;
    bool categoryIsNull = false;
    std::string category;
    bool messageIsNull = false;
    std::string format;                  // the message argument, unformatted
    std::vector<LogArgument> arguments;  // in the order they were fetched
    std::string text;                    // the formatted message
    // Empty when the format was well formed; otherwise what was wrong with it (an unknown or
    // truncated conversion stops argument fetching, and the rest is copied literally).
    std::string formatProblem;
};

// The process-wide store the logger appends to. Thread safe.
class LogRecorder {
  public:
    using Hook = std::function<void(const LogRecord&)>;

    ~LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    void clear();
    std::vector<LogRecord> records() const;
    // Only the records logged with this component argument.
    std::vector<LogRecord> recordsFor(fmiComponent component) const;
    std::size_t size() const;

    // Called after each record is appended, outside the lock, on the logging thread, so it may
    // call back into the slave. A hook is not re-entered: records logged on the same thread
    // while it runs are appended without calling it again. An empty hook removes it.
    void setHook(Hook hook);

    // For the logger itself.
    void append(LogRecord record);

  private:
    LogRecorder();
    friend LogRecorder& logRecorder();

    struct State;
    std::unique_ptr<State> state_;
};

LogRecorder& logRecorder();

extern "C" void recordingLogger(fmiComponent c, fmiString instanceName, fmiStatus status,
                                fmiString category, fmiString message, ...);

// What recordingLogger does, for the logger of another FMI version, whose
// arguments have the same representation: it must be a function of its own
// type, since calling a function through a pointer of another type is
// undefined.
void recordLogCall(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                   fmiString message, va_list& ap);

// Parses and formats a message exactly as recordingLogger does, without recording anything;
// exposed so the parser can be tested on its own.
LogRecord makeLogRecord(fmiComponent c, fmiString instanceName, fmiStatus status,
                        fmiString category, fmiString message, ...);
