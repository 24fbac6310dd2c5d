#pragma once
// The program's dialog templates, as data both dialog backends build from.

#include "framework/dialog_template.h"
#include "tarvelo_maker.h"

extern const DialogTemplate kMainDialogTemplate;  // 102
extern const DialogTemplate kAboutDialogTemplate; // 100, the instructions dialog

// The instructions dialog's text: lines joined by CR LF, none after the last.
extern const char kInstructionText[];

// The maker's web address, shown on the web buttons and opened by them.
inline constexpr char kMakerWebAddress[] = TARVELO_WEB_ADDRESS;
