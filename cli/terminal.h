// morvik — reading a key from the terminal without showing it.
#pragma once

#include <string>

namespace morvik::cli {

// Asks for the key on the controlling terminal (not standard input, which may
// carry the data) with echo off, twice when `confirm` (the two must agree), and
// returns the line typed, without its line break. Echo is back on when it
// returns, fails, or a signal ends the run. Fails with Exit::Usage when there
// is no terminal, Exit::Key when the two differ.
std::string PromptKey(bool confirm);

}  // namespace morvik::cli
