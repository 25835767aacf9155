// Runs a program to its end with its standard output and error in files.
#pragma once

#include <string>
#include <vector>

struct Finished {
    int status = -1;  // the exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` in `directory`, with no standard input.
Finished runProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& directory);

// Starts `program` in `directory` with `environment` added to this process's
// ("NAME=value" each), standard output and error in files there, or standard
// output into `outputPipe` when that is not -1; returns its process id.
int startProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& directory, const std::vector<std::string>& environment,
                 int outputPipe = -1);

// Waits for a started program: its exit status, or 128 plus the number of
// the signal that ended it.
int waitForProgram(int pid);

// The same on a terminal of its own: everything the program writes arrives
// in `out`, nothing in `err`.
Finished runOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory);
