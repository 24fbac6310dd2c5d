#include "cli/interruption.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// Written by the handler, read by the run: lock-free, so async-signal-safe.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

#if defined(_WIN32)
// Set once the run has ended: Windows ends the process when the handler of a console's closing
// returns, so that handler waits for the report first.
HANDLE g_runEnded = nullptr;
constexpr DWORD kCloseGraceMs = 4500; // Windows allows 5 s

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_signal.store(SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_signal.store(SIGTERM);
        WaitForSingleObject(g_runEnded, kCloseGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}
#else
extern "C" void onSignal(int signal) {
    int expected = 0;
    g_signal.compare_exchange_strong(expected, signal);
}
#endif

} // namespace

InterruptionGuard::InterruptionGuard() {
#if defined(_WIN32)
    g_runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Calls under way resume: the run looks at the flag between the slices of its waits.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM}) {
        // A signal the parent has us ignore (a shell's background job) stays ignored.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
#endif
}

InterruptionGuard::~InterruptionGuard() {
#if defined(_WIN32)
    SetEvent(g_runEnded);
#else
    // Left installed: the run has ended, its files are whole, and what it returns already
    // says whether it was interrupted.
#endif
}

int interruption() {
    return g_signal.load();
}

std::string interruptionText(int signal) {
#if defined(_WIN32)
    return signal == SIGINT ? "interrupted by Ctrl-C" : "interrupted: the console was closed";
#else
    return signal == SIGINT ? "interrupted by SIGINT" : "interrupted by SIGTERM";
#endif
}
