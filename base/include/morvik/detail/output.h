// Output buffers of the message paths and the text codecs.
//
// Outputs are reserved once and then built by appending pieces; resizing
// first would write every byte twice. A buffer of several MiB also asks for
// transparent huge pages where the system offers them: the first touch of
// each 4 KiB page of a fresh buffer is a page fault, and on virtual machines
// those faults can cost more than the work that fills the buffer.
#pragma once

#include <cstddef>
#include <string>

namespace morvik::detail {

// Bytes that a piece of output passes through on its way: small enough to
// stay in the first-level cache.
inline constexpr std::size_t kPiece = 16 * 1024;

// An empty string with room for `n` bytes.
std::string Reserved(std::size_t n);

// Room for `n` bytes in `s`, whose value stays; a string that already holds
// something grows at least twofold.
void Reserve(std::string& s, std::size_t n);

}  // namespace morvik::detail
