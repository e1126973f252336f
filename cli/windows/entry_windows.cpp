// The tool's entry on Windows: the command line as the system holds it,
// UTF-16, so that no character is lost to the ANSI code page before the
// options are read; the options see it as UTF-8.
#include <string>
#include <string_view>
#include <vector>

#include <morvik/front/windows.h>

namespace morvik::cli {
int ToolMain(int argc, char** argv);
}  // namespace morvik::cli

int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(morvik::front::Narrow(wargv[i]));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return morvik::cli::ToolMain(argc, argv.data());
}
