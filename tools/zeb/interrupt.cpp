#include "interrupt.h"

#include <cerrno>
#include <csignal>
#include <ctime>

namespace zeb::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) {
    if (g_interrupted) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
    g_interrupted = 1;
}

}  // namespace

void catch_interrupt() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a sleep ends early
    sigaction(SIGINT, &action, nullptr);
}

bool interrupted() {
    return g_interrupted != 0;
}

void sleep_ms(unsigned ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (!interrupted() && nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace zeb::cli
