#pragma once
// Our template data as the in-memory DLGTEMPLATE that DialogBoxIndirectParamA and
// CreateDialogIndirectParamA take: the header, then each control as a DLGITEMTEMPLATE on a
// 4-byte boundary, texts in UTF-16 converted from the ANSI code page.

#include "framework/dialog_template.h"

#include <cstdint>
#include <vector>

// The words of the template; its data() is suitably aligned and lives as long as the vector.
std::vector<std::uint16_t> BuildWin32DialogTemplate(const DialogTemplate& tmpl);
