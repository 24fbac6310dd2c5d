#pragma once
// The instructions dialog: logo, product name and version, the maker's legal notice, the
// measurement instructions, and a button that asks the main window to open the maker's web page.

#include "framework/framework.h"

class CAboutDlg : public CDialog {
public:
    // No parent: the framework makes the application's main window its owner.
    CAboutDlg();

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
    bool OnInitDialog() override;

private:
    void OnVisitWeb();
};
