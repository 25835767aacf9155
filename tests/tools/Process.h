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

// The same on a terminal of its own: everything the program writes arrives
// in `out`, nothing in `err`.
Finished runOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory);
