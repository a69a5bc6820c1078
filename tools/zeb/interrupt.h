// Ctrl-C for the commands that run until stopped (io watch, ping): the first SIGINT asks them
// to finish cleanly; a second one ends the program at once.
#pragma once

namespace zeb::cli {

// Catches SIGINT from now on.
void catch_interrupt();
bool interrupted();
// Sleeps `ms` milliseconds, or less when interrupted.
void sleep_ms(unsigned ms);

}  // namespace zeb::cli
