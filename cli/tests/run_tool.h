// Starting the built tool as a user would, on either system: its standard
// streams on files, its environment the test's own without MORVIK_KEY_HEX
// and with the given additions.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace morvik::test {

// The exit status, or 128 plus the signal that ended the program.
int RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& in,
               const std::filesystem::path& out, const std::filesystem::path& err,
               const std::vector<std::string>& env = {});

#ifndef _WIN32
// The program started with `input` (a descriptor) as its standard input;
// -1 if it could not be. WaitProgram gives its status as RunProgram does.
int StartProgram(const std::vector<std::string>& argv, int input, const std::filesystem::path& out,
                 const std::filesystem::path& err, const std::vector<std::string>& env = {});
int WaitProgram(int pid);

// What a program is started with: the test's own environment without the
// variables whose names start with `drop`, plus `add`; and pointers to the
// strings of `words`, ended by a null pointer, as argv and envp are.
std::vector<std::string> EnvironmentWithout(std::string_view drop, const std::vector<std::string>& add);
std::vector<char*> NullEnded(std::vector<std::string>& words);
#endif

#ifdef _WIN32
// The program running with a pipe on its standard input, in a process group
// of its own, so that a console event can be sent to it alone.
class Running {
public:
    Running(const std::vector<std::string>& argv, const std::filesystem::path& out,
            const std::filesystem::path& err);
    ~Running();
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    bool Started() const { return process_ != nullptr; }
    bool Feed(const std::string& bytes);
    void CloseInput();
    // Ctrl-Break to the program's group; false where there is no console to send it through.
    bool Interrupt();
    int Wait();

private:
    void*         process_ = nullptr;
    void*         input_ = nullptr;
    unsigned long id_ = 0;
};
#endif

// The command that starts `tool`: on POSIX preceded by the words of
// MORVIK_TOOL_WRAPPER, which memcheck.sh sets so that the tool (and not the
// test program) runs under Valgrind.
std::vector<std::string> ToolCommand(const std::string& tool);

// A new, empty folder under the system's temporary folder.
std::filesystem::path MakeTempDir(const std::string& stem);

// A file's bytes, and bytes written as a file.
inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
inline void Spit(const std::filesystem::path& path, std::string_view data) {
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace morvik::test
