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

// Each line of a text the dialog wrote with "\r\n", the first after `prefix`.
void printLines(const std::string& prefix, const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c != '\r') {
            shown += c;
        }
    }
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), shown.c_str());
}

} // namespace

void Console::status(const std::string& text) {
    m_lastStatus = text;
    m_lastStatusShown = !m_quiet && m_progress.empty();
    if (m_lastStatusShown) {
        printLines("[status] ", text);
    }
}

void Console::messageBox(const headless::MessageBoxRecord& box) {
    clearProgress();
    printLines("[message box] " + box.caption + ": ", box.text);
}

void Console::failed() {
    if (!m_lastStatusShown && !m_lastStatus.empty()) {
        clearProgress();
        printLines("tarvelo-cli: ", m_lastStatus);
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
