// Starting the built tool as a user would, on either system: its standard
// streams on files, its environment the test's own without MORVIK_KEY_HEX
// and with the given additions.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace morvik::test {

// The exit status, or 128 plus the signal that ended the program.
int RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& in,
               const std::filesystem::path& out, const std::filesystem::path& err,
               const std::vector<std::string>& env = {});

// A new, empty folder under the system's temporary folder.
std::filesystem::path MakeTempDir(const std::string& stem);

}  // namespace morvik::test
