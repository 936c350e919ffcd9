#include "Interrupt.h"

#include <csignal>
#include <initializer_list>

namespace scopectl {

namespace {
volatile std::sig_atomic_t g_interrupted = 0;

void Note(int) {
    g_interrupted = 1;
}
} // namespace

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a sleep between steps ends at once
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool Interrupted() {
    return g_interrupted != 0;
}

} // namespace scopectl
