#pragma once
// <windows.h> for the Win32 backend and the program's entry, the only code that includes it.
// The framework's classes have members named like the Windows API's ANSI/Unicode macros
// (MessageBox, SendMessage, ...): the macros go, so that those names mean the members
// everywhere, and the Windows functions are called by their explicit ANSI names.
// WIN32_LEAN_AND_MEAN and NOMINMAX come from the build (libstdc++ on mingw defines NOMINMAX).

#include <windows.h>

#include <shellapi.h>

#undef AppendMenu
#undef DefWindowProc
#undef GetWindowText
#undef LoadString
#undef MessageBox
#undef PostMessage
#undef SendMessage
#undef SetWindowText
#undef ShellExecute
