#include "run_tool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace morvik::test {

int StartProgram(const std::vector<std::string>& args, int input, const std::filesystem::path& out,
                 const std::filesystem::path& err, const std::vector<std::string>& env) {
    std::vector<std::string> argv_s = args;
    std::vector<std::string> env_s  = EnvironmentWithout("MORVIK_KEY_HEX=", env);
    const std::vector<char*> argv = NullEnded(argv_s), envp = NullEnded(env_s);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    // A wrapper such as valgrind is found on PATH.
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

std::vector<std::string> EnvironmentWithout(std::string_view drop, const std::vector<std::string>& add) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!std::string_view(*e).starts_with(drop)) env.push_back(*e);
    env.insert(env.end(), add.begin(), add.end());
    return env;
}

std::vector<char*> NullEnded(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (auto& w : words) pointers.push_back(w.data());
    pointers.push_back(nullptr);
    return pointers;
}

int WaitProgram(int pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunProgram(const std::vector<std::string>& args, const std::filesystem::path& in,
               const std::filesystem::path& out, const std::filesystem::path& err,
               const std::vector<std::string>& env) {
    const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int pid = StartProgram(args, fd, out, err, env);
    ::close(fd);
    return pid < 0 ? -1 : WaitProgram(pid);
}

std::vector<std::string> ToolCommand(const std::string& tool) {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("MORVIK_TOOL_WRAPPER")) {
        std::istringstream in(wrapper);
        for (std::string w; in >> w;) words.push_back(w);
    }
    words.push_back(tool);
    return words;
}

std::filesystem::path MakeTempDir(const std::string& stem) {
    std::string templ = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("cannot make a temporary folder");
    return templ;
}

}  // namespace morvik::test
