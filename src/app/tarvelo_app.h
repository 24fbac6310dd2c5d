#pragma once
// The application object: it runs the main dialog modally and then lets the program end.

#include "framework/framework.h"

class CTarveloApp : public CWinApp {
public:
    // Runs the main dialog until the user closes it; returns false, so the program ends.
    bool InitInstance() override;
    std::span<const AppCommandEntry> GetMessageMap() const override;
};

extern CTarveloApp theApp;
