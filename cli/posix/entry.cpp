#include "../platform.h"

namespace morvik::cli {
int ToolMain(int argc, char** argv);
}

int main(int argc, char** argv) { return morvik::cli::ToolMain(argc, argv); }
