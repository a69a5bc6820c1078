// The zeb program: its command line, and the exit code of what it ran.
#pragma once

namespace zeb::cli {

int run(int argc, char** argv);

}  // namespace zeb::cli
