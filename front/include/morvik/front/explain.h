// Morvik RC2 fronts — one explanation of an error, in the tool's words, for
// every front: the tool's message, the `where` of Python's morvik.Error and
// the C interface's last error text all come from here.
#pragma once

#include <string>

#include <morvik/error.h>

#include <morvik/front/failure.h>

namespace morvik::front {

// A number in decimal, as messages show it. (Not std::to_string, whose
// digit table the shared library would otherwise export.)
std::string Decimal(long long n);

// A character as it may be shown in a message: itself if printable ASCII,
// else its code ("byte 0x0A").
std::string Describe(char c);

// What went wrong and where, from the error's position: `subject` names the
// input ("the ciphertext", "armoured text", "--text"); where the error carries
// no position, the error's standard text follows the subject.
std::string Explain(const Error& error, const std::string& subject);

// The failure for an error of the core: the error number is the status, the
// message is Explain's.
Failure Explained(const Error& error, const std::string& subject);

// The failure for UTF-8 text that has no bytes in the code page (an error
// of CodePage::FromUtf8), named by `place` alone ("the input at byte offset
// 4 (line 2)"), which already says where: "...: character U+4E2D has no
// Windows-1252 byte", "...: malformed UTF-8".
Failure ExplainedAt(const Error& error, const std::string& place);

// What a decryption failure of a text form adds when the text ended in a line
// break: the usual cause of a text that reads to a bad length.
std::string LineBreakHint();

}  // namespace morvik::front
