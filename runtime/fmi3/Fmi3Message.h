// Formatting of the messages an FMI 3.0 instance sends: the FMU formats
// every message itself, with the platform's C runtime, and hands the master
// finished text.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats are checked as C99's: the Universal CRT formats as C99 does, while
// the compiler would check a Windows printf against the old Microsoft one.
#if defined(__clang__)
#define SLAVE_MESSAGE_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define SLAVE_MESSAGE_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#endif

// Formats into buffer, at most size bytes with the terminating zero; a
// message that does not fit is cut.
void formatMessage(char* buffer, std::size_t size, const char* format, std::va_list arguments);
