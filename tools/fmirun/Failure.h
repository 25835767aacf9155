// A reason to stop, with the exit status it ends the program with. Each kind
// of trouble has its own status, so that scripts can tell them apart.
#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitSlaveFailed = 1,  // the slave returned fmiError, fmiFatal or fmiDiscard
    kExitUsage = 2,        // the command line: options, values, variable names
    kExitInputFile = 3,    // the input CSV file
    kExitModel = 4,        // the archive, the model description or the library
    kExitOutputFile = 5,   // the result CSV file
};

class Failure : public std::runtime_error {
  public:
    Failure(ExitStatus status, const std::string& message)
        : std::runtime_error(message), status_(status) {}

    ExitStatus status() const {
        return status_;
    }

  private:
    ExitStatus status_;
};

// The text of errno for a message, the same as strerror's but safe in any
// thread: a sweep's cases write their files in threads of their own.
inline std::string errnoText() {
    return std::generic_category().message(errno);
}
