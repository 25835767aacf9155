#include "Fmi3Message.h"

#include <cstdio>

#if defined(_WIN32)
// The Universal CRT's formatter, called directly: the compiler's own stdio
// wrappers would bring in a formatter of their own, with its long double
// arithmetic and a library beyond the platform's C runtime.
extern "C" int __cdecl __stdio_common_vsprintf(unsigned long long options, char* buffer,
                                               std::size_t size, const char* format, void* locale,
                                               std::va_list arguments);

namespace {
// C99's snprintf: a message that does not fit is cut and terminated.
constexpr unsigned long long kStandardSnprintfBehavior = 2;
}  // namespace

void formatMessage(char* buffer, std::size_t size, const char* format, std::va_list arguments) {
    if (__stdio_common_vsprintf(kStandardSnprintfBehavior, buffer, size, format, nullptr,
                                arguments) < 0) {
        buffer[0] = '\0';
    }
}
#else
void formatMessage(char* buffer, std::size_t size, const char* format, std::va_list arguments) {
    if (std::vsnprintf(buffer, size, format, arguments) < 0) {
        buffer[0] = '\0';
    }
}
#endif
