#include "cli/console.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool standardErrorIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// A driver's words may span lines, as a message box's do: each break becomes "; ", so that
// every error stays one line.
std::string oneLine(const std::string& text) {
    std::string line;
    bool breaking = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            breaking = !line.empty();
            continue;
        }
        if (breaking) {
            line += "; ";
            breaking = false;
        }
        line += c;
    }
    return line;
}

} // namespace

void Console::error(const std::string& text) {
    clearProgress();
    std::fprintf(stderr, "tarvelo-cli: %s\n", oneLine(text).c_str());
}

void Console::notice(const std::string& text) {
    if (m_verbose) {
        error(text);
    }
}

void Console::progress(const std::string& text) {
    if (m_quiet || !standardErrorIsTerminal()) {
        return;
    }
    // Padded over the line before rather than erased with an escape sequence, which not every
    // Windows console understands.
    const int width = static_cast<int>(std::max(text.size(), m_progress.size()));
    std::fprintf(stderr, "\r%-*s", width, text.c_str());
    std::fflush(stderr);
    m_progress = text;
}

void Console::endProgress() {
    clearProgress();
    m_progress.clear();
}

void Console::clearProgress() {
    if (!m_progress.empty()) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_progress.size()), "");
    }
}
