#pragma once
// tarvelo-cli's standard error, in its own words: one line for each thing that went wrong,
// notices of what the driver did on the way (a reset, a new rate), and during a sweep on a
// terminal one progress line, rewritten in place. Quiet keeps only what went wrong.

#include <string>

class Console {
public:
    explicit Console(bool quiet)
        : m_quiet(quiet) {}

    // "tarvelo-cli: " and the text, always.
    void error(const std::string& text);
    // As error(), unless quiet.
    void notice(const std::string& text);
    // On a terminal only, and not when quiet.
    void progress(const std::string& text);
    void endProgress();

private:
    void clearProgress();

    bool m_quiet;
    std::string m_progress;
};
