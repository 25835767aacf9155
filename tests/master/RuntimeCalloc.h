// The C runtime's calloc as the FMU under test sees it. An FMI 3.0 FMU takes
// its memory from the platform's C runtime, not from the master, so to make
// the FMU's allocations fail the test master rebinds the loaded library's
// own import of calloc (its GOT slot on Linux, its import address table entry
// on Windows) to a counting function that can refuse chosen requests.
#pragma once

#include <cstddef>
#include <string>

#include "SlaveLibrary.h"

// Rebinds the library's calloc import; false with the reason otherwise.
// Requests pass through to the C runtime until told to fail.
bool rebindRuntimeCalloc(const SlaveLibrary& library, std::string& error);

// The requests since the last reset, failed ones included.
std::size_t runtimeCallocRequests();
// Makes the k-th request (1-based, counted from the last reset) and every
// later one fail; 0 makes none fail.
void failRuntimeCallocFrom(std::size_t k);
// Counts from zero again and makes no request fail.
void resetRuntimeCalloc();
