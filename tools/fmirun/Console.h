// Everything the master tells a person goes to standard error through here,
// so that a progress line never gets mixed into a message.
#pragma once

#include <string>

namespace console {

// Writes one line (a newline is added).
void line(const std::string& text);

// Replaces the progress line: shown only while standard error is a terminal.
void progress(const std::string& text);
void clearProgress();
bool isTerminal();

}  // namespace console
