#include "RecordingLogger.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <utility>

#include "TestMutex.h"

struct LogRecorder::State {
    mutable TestMutex mutex;
    std::vector<LogRecord> records;
    Hook hook;
};

LogRecorder::LogRecorder() : state_(new State) {}

LogRecorder::~LogRecorder() = default;

LogRecorder& logRecorder() {
    // Deliberately never destroyed: a slave instance freed from a static destructor may still
    // log, and a reachable recorder is not a leak to LeakSanitizer.
    static LogRecorder* recorder = new LogRecorder;
    return *recorder;
}

void LogRecorder::clear() {
    TestLock lock(state_->mutex);
    state_->records.clear();
}

std::vector<LogRecord> LogRecorder::records() const {
    TestLock lock(state_->mutex);
    return state_->records;
}

std::vector<LogRecord> LogRecorder::recordsFor(fmiComponent component) const {
    TestLock lock(state_->mutex);
    std::vector<LogRecord> result;
    for (const LogRecord& record : state_->records) {
        if (record.component == component) {
            result.push_back(record);
        }
    }
    return result;
}

std::size_t LogRecorder::size() const {
    TestLock lock(state_->mutex);
    return state_->records.size();
}

void LogRecorder::setHook(Hook hook) {
    TestLock lock(state_->mutex);
    state_->hook = std::move(hook);
}

namespace {

// Set while a hook runs on this thread, so that a slave logging again from inside the hook
// does not recurse into it without end.
thread_local bool hookRunning = false;

class HookGuard {
  public:
    HookGuard() {
        hookRunning = true;
    }
    ~HookGuard() {
        hookRunning = false;
    }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;
};

}  // namespace

void LogRecorder::append(LogRecord record) {
    Hook hook;
    LogRecord copy;
    {
        TestLock lock(state_->mutex);
        if (state_->hook && !hookRunning) {
            hook = state_->hook;
            copy = record;
        }
        state_->records.push_back(std::move(record));
    }
    if (hook) {
        HookGuard guard;
        hook(copy);
    }
}

namespace {

enum class Length { none, hh, h, l, ll, j, z, t, L };

// The formats are built at run time from the slave's directives, so the compiler cannot check
// them; each one is rebuilt from parsed parts and paired with an argument of the matching type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

template <typename T>
bool render(std::string& out, const std::string& format, T value) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), value);
    if (length < 0) {
        return false;
    }
    std::string piece(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(&piece[0], piece.size(), format.c_str(), value);
    piece.resize(static_cast<std::size_t>(length));
    out += piece;
    return true;
}

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isOneOf(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool lengthFits(Length length, char conversion) {
    if (conversion == 'n') {
        return true;  // only the pointer is fetched, whatever it points to
    }
    if (isOneOf(conversion, "diouxX")) {
        return length != Length::L;
    }
    if (isOneOf(conversion, "cs")) {
        return length == Length::none || length == Length::l;
    }
    if (conversion == 'p') {
        return length == Length::none;
    }
    // Floating conversions: 'l' is allowed and ignored, 'L' means long double.
    return length == Length::none || length == Length::l || length == Length::L;
}

// The type a wint_t argument arrives as after the default argument promotions (MinGW's wint_t
// is unsigned short, which reaches the callee as int).
using PromotedWint = decltype(+std::declval<std::wint_t>());

static_assert(sizeof(double) == sizeof(std::uint64_t), "double is not 64 bits wide");

std::uint64_t fetchDoubleBits(va_list& ap) {
    std::uint64_t bits;
#if defined(__i386__)
    // On 32-bit x86 a double read through the x87 unit has a signalling NaN quietened; copying
    // the argument's bytes instead keeps every bit as it arrived. A double argument occupies
    // the same 8 stack bytes as this struct does.
    struct DoubleBytes {
        unsigned char bytes[sizeof(double)];
    };
    const DoubleBytes argument = va_arg(ap, DoubleBytes);
    std::memcpy(&bits, argument.bytes, sizeof bits);
#else
    const double value = va_arg(ap, double);
    std::memcpy(&bits, &value, sizeof bits);
#endif
    return bits;
}

void formatMessage(LogRecord& record, const char* format, va_list& ap) {
    std::string& out = record.text;
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char* const start = p++;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }

        const std::size_t firstArgument = record.arguments.size();
        auto starArgument = [&](int value) {
            LogArgument argument;
            argument.conversion = '*';
            argument.integer = value;
            record.arguments.push_back(argument);
        };

        std::string flags;
        while (isOneOf(*p, "-+ #0'")) {
            flags += *p++;
        }

        std::string width;
        if (*p == '*') {
            ++p;
            const int value = va_arg(ap, int);
            starArgument(value);
            long long magnitude = value;
            if (magnitude < 0) {
                flags += '-';  // a negative width is a left-justification flag
                magnitude = -magnitude;
            }
            width = std::to_string(magnitude);
        } else {
            while (isDigit(*p)) {
                width += *p++;
            }
        }

        std::string precision;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                const int value = va_arg(ap, int);
                starArgument(value);
                if (value >= 0) {  // a negative precision is as if none were given
                    precision = "." + std::to_string(value);
                }
            } else {
                precision = ".";
                while (isDigit(*p)) {
                    precision += *p++;
                }
            }
        }

        Length length = Length::none;
        switch (*p) {
            case 'h':
                ++p;
                length = Length::h;
                if (*p == 'h') {
                    ++p;
                    length = Length::hh;
                }
                break;
            case 'l':
                ++p;
                length = Length::l;
                if (*p == 'l') {
                    ++p;
                    length = Length::ll;
                }
                break;
            case 'j':
                ++p;
                length = Length::j;
                break;
            case 'z':
                ++p;
                length = Length::z;
                break;
            case 't':
                ++p;
                length = Length::t;
                break;
            case 'L':
                ++p;
                length = Length::L;
                break;
            default:
                break;
        }

        const char conversion = *p;
        if (!isOneOf(conversion, "diouxXcspnfFeEgGaA") || !lengthFits(length, conversion)) {
            // The argument types of anything after this point are unknowable.
            record.formatProblem =
                conversion == '\0' ? "truncated conversion \"" + std::string(start) + "\""
                                   : "unsupported conversion \"" + std::string(start, p + 1) + "\"";
            for (std::size_t i = firstArgument; i < record.arguments.size(); ++i) {
                record.arguments[i].directive = std::string(start, p);
            }
            out += start;
            return;
        }
        ++p;

        const std::string directive(start, p);
        for (std::size_t i = firstArgument; i < record.arguments.size(); ++i) {
            record.arguments[i].directive = directive;
        }
        const std::string prefix = "%" + flags + width + precision;

        LogArgument argument;
        argument.conversion = conversion;
        argument.directive = directive;
        bool rendered = true;

        if (isOneOf(conversion, "di")) {
            long long value = 0;
            switch (length) {
                case Length::hh:
                    value = static_cast<signed char>(va_arg(ap, int));
                    break;
                case Length::h:
                    value = static_cast<short>(va_arg(ap, int));
                    break;
                case Length::l:
                    value = va_arg(ap, long);
                    break;
                case Length::ll:
                    value = va_arg(ap, long long);
                    break;
                case Length::j:
                    value = static_cast<long long>(va_arg(ap, std::intmax_t));
                    break;
                case Length::z:
                    value = va_arg(ap, std::make_signed_t<std::size_t>);
                    break;
                case Length::t:
                    value = va_arg(ap, std::ptrdiff_t);
                    break;
                default:
                    value = va_arg(ap, int);
                    break;
            }
            argument.integer = value;
            rendered = render(out, prefix + "ll" + conversion, value);
        } else if (isOneOf(conversion, "ouxX")) {
            unsigned long long value = 0;
            switch (length) {
                case Length::hh:
                    value = static_cast<unsigned char>(va_arg(ap, unsigned int));
                    break;
                case Length::h:
                    value = static_cast<unsigned short>(va_arg(ap, unsigned int));
                    break;
                case Length::l:
                    value = va_arg(ap, unsigned long);
                    break;
                case Length::ll:
                    value = va_arg(ap, unsigned long long);
                    break;
                case Length::j:
                    value = static_cast<unsigned long long>(va_arg(ap, std::uintmax_t));
                    break;
                case Length::z:
                    value = va_arg(ap, std::size_t);
                    break;
                case Length::t:
                    value = va_arg(ap, std::make_unsigned_t<std::ptrdiff_t>);
                    break;
                default:
                    value = va_arg(ap, unsigned int);
                    break;
            }
            argument.unsignedInteger = value;
            rendered = render(out, prefix + "ll" + conversion, value);
        } else if (conversion == 'c') {
            if (length == Length::l) {
                const PromotedWint value = va_arg(ap, PromotedWint);
                argument.integer = static_cast<long long>(value);
                rendered = render(out, prefix + "lc", static_cast<std::wint_t>(value));
            } else {
                const int value = va_arg(ap, int);
                argument.integer = value;
                rendered = render(out, prefix + "c", value);
            }
        } else if (conversion == 's') {
            if (length == Length::l) {
                const wchar_t* value = va_arg(ap, const wchar_t*);
                argument.pointer = value;
                if (value == nullptr) {
                    argument.isNullString = true;
                    rendered = render(out, prefix + "s", "(null)");
                } else {
                    rendered = render(argument.text, std::string("%ls"), value) &&
                               render(out, prefix + "ls", value);
                }
            } else {
                const char* value = va_arg(ap, const char*);
                argument.pointer = value;
                if (value == nullptr) {
                    argument.isNullString = true;
                    rendered = render(out, prefix + "s", "(null)");
                } else {
                    argument.text = value;
                    rendered = render(out, prefix + "s", value);
                }
            }
        } else if (conversion == 'p') {
            void* value = va_arg(ap, void*);
            argument.pointer = value;
            rendered = render(out, prefix + "p", value);
        } else if (conversion == 'n') {
            argument.pointer = va_arg(ap, void*);
            if (record.formatProblem.empty()) {
                record.formatProblem = "\"" + directive + "\" would write into the master";
            }
        } else if (length == Length::L) {
            const long double value = va_arg(ap, long double);
            argument.real = static_cast<double>(value);
            std::memcpy(&argument.realBits, &argument.real, sizeof argument.realBits);
            rendered = render(out, prefix + "L" + conversion, value);
        } else {
            argument.realBits = fetchDoubleBits(ap);
            std::memcpy(&argument.real, &argument.realBits, sizeof argument.real);
            rendered = render(out, prefix + conversion, argument.real);
        }

        if (!rendered && record.formatProblem.empty()) {
            record.formatProblem = "cannot render \"" + directive + "\"";
        }
        record.arguments.push_back(std::move(argument));
    }
}

LogRecord makeRecord(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                     fmiString message, va_list& ap) {
    LogRecord record;
    record.component = c;
    record.instanceNameIsNull = instanceName == nullptr;
    if (instanceName != nullptr) {
        record.instanceName = instanceName;
    }
    record.status = status;
    record.categoryIsNull = category == nullptr;
    if (category != nullptr) {
        record.category = category;
    }
    record.messageIsNull = message == nullptr;
    if (message != nullptr) {
        record.format = message;
        formatMessage(record, message, ap);
    }
    return record;
}

}  // namespace

LogRecord makeLogRecord(fmiComponent c, fmiString instanceName, fmiStatus status,
                        fmiString category, fmiString message, ...) {
    va_list ap;
    va_start(ap, message);
    LogRecord record = makeRecord(c, instanceName, status, category, message, ap);
    va_end(ap);
    return record;
}

void recordLogCall(fmiComponent c, fmiString instanceName, fmiStatus status, fmiString category,
                   fmiString message, va_list& ap) {
    logRecorder().append(makeRecord(c, instanceName, status, category, message, ap));
}

extern "C" void recordingLogger(fmiComponent c, fmiString instanceName, fmiStatus status,
                                fmiString category, fmiString message, ...) {
    va_list ap;
    va_start(ap, message);
    LogRecord record = makeRecord(c, instanceName, status, category, message, ap);
    va_end(ap);
    logRecorder().append(std::move(record));
}
