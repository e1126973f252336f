// morvik — "did you mean": the name a user most likely meant when a command
// or option was mistyped.
#pragma once

#include <string>
#include <vector>

namespace morvik::cli {

// The candidate closest to `typed` when it is close enough to be a slip of the
// keyboard (a letter missing, added, changed, or two swapped, or a prefix of
// exactly one candidate); "" otherwise.
std::string Closest(const std::string& typed, const std::vector<std::string>& candidates);

}  // namespace morvik::cli
