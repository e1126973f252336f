// morvik — reading a key from the terminal without showing it.
#pragma once

#include <string>

#include <morvik/detail/wipe.h>

#include "front.h"

namespace morvik::cli {

// Asks for the key on the controlling terminal (not standard input, which may
// carry the data) with echo off, twice when `confirm` (the two must agree), and
// returns the line typed, without its line break. Echo is back on when it
// returns, fails, or a signal ends the run. Fails with Exit::Usage when there
// is no terminal, Exit::Key when the two differ.
std::string PromptKey(bool confirm);

// What both systems' PromptKey share: `read(again)` reads one line at the
// prompt, the second time with `again` set; two different lines fail, and
// neither is left in memory.
template <class Read> std::string ConfirmedKey(bool confirm, Read read) {
    std::string key = read(false);
    if (!confirm) return key;
    std::string again = read(true);
    const bool same = key == again;
    detail::Wipe(again);
    if (!same) {
        detail::Wipe(key);
        throw Failure(Exit::Key, "--key-prompt: the two keys typed differ");
    }
    return key;
}

}  // namespace morvik::cli
