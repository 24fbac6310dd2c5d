#pragma once
// tarvelo-cli's standard error: the dialog's status texts and message boxes as they come, or,
// during a sweep on a terminal, one progress line that stands for the status texts. Quiet keeps
// only errors: message boxes, and the status text of a measurement that failed.

#include "framework/headless/headless.h"

#include <string>

class Console {
public:
    explicit Console(bool quiet)
        : m_quiet(quiet) {}

    void status(const std::string& text);
    void messageBox(const headless::MessageBoxRecord& box);
    // A measurement found nothing: its reason, unless that is on the screen already.
    void failed();
    // One line, rewritten in place: on a terminal only, and not when quiet.
    void progress(const std::string& text);
    void endProgress();

private:
    void clearProgress();

    bool m_quiet;
    std::string m_lastStatus;
    bool m_lastStatusShown = false;
    std::string m_progress;
};
