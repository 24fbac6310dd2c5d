#pragma once
// tarvelo-cli's standard error, in its own words: one line for each thing that went wrong,
// always; when verbose, notices of what the driver did on the way (a reset, a new rate); and
// during a sweep on a terminal one progress line, rewritten in place, unless quiet.

#include <string>

class Console {
public:
    Console(bool quiet, bool verbose)
        : m_quiet(quiet)
        , m_verbose(verbose) {}

    // "tarvelo-cli: " and the text, always.
    void error(const std::string& text);
    // As error(), when verbose.
    void notice(const std::string& text);
    // On a terminal only, and not when quiet.
    void progress(const std::string& text);
    void endProgress();

private:
    void clearProgress();

    bool m_quiet;
    bool m_verbose;
    std::string m_progress;
};
