#pragma once
// Window messages, notifications and flags with their Windows values, so that a command posted
// or a flag passed means the same on every backend. In a translation unit that also includes
// <windows.h> the platform's own definitions win and these are skipped.

#include <cstdint>

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

constexpr WParam makeCommandWParam(unsigned id, unsigned code) {
    return static_cast<WParam>((id & 0xFFFFu) | ((code & 0xFFFFu) << 16));
}
constexpr unsigned commandId(WParam wParam) {
    return static_cast<unsigned>(wParam & 0xFFFFu);
}
constexpr unsigned commandCode(WParam wParam) {
    return static_cast<unsigned>((wParam >> 16) & 0xFFFFu);
}

#ifndef WM_COMMAND
inline constexpr unsigned WM_PAINT = 0x000F;
inline constexpr unsigned WM_ICONERASEBKGND = 0x0027;
inline constexpr unsigned WM_QUERYDRAGICON = 0x0037;
inline constexpr unsigned WM_SETICON = 0x0080;
inline constexpr unsigned WM_INITDIALOG = 0x0110;
inline constexpr unsigned WM_COMMAND = 0x0111;
inline constexpr unsigned WM_SYSCOMMAND = 0x0112;

inline constexpr unsigned CB_GETCOUNT = 0x0146;
inline constexpr unsigned CB_GETCURSEL = 0x0147;
inline constexpr unsigned CB_GETLBTEXT = 0x0148;
inline constexpr unsigned CB_GETLBTEXTLEN = 0x0149;
inline constexpr unsigned CB_ADDSTRING = 0x0143;
inline constexpr unsigned CB_RESETCONTENT = 0x014B;
inline constexpr unsigned CB_SETCURSEL = 0x014E;
inline constexpr unsigned CB_GETITEMDATA = 0x0150;
inline constexpr unsigned CB_SETITEMDATA = 0x0151;
inline constexpr int CB_ERR = -1;

inline constexpr unsigned BN_CLICKED = 0;
inline constexpr unsigned CBN_SELCHANGE = 1;

inline constexpr unsigned MB_OK = 0x0000;
inline constexpr unsigned MB_ICONSTOP = 0x0010;
inline constexpr unsigned MB_ICONINFORMATION = 0x0040;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr unsigned ICON_BIG = 1;
inline constexpr int SW_SHOWMINNOACTIVE = 7;

inline constexpr unsigned SC_MOVE = 0xF010;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned MF_STRING = 0x0000;
inline constexpr unsigned MF_SEPARATOR = 0x0800;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
#endif

// The framework's standard help command.
#ifndef ID_HELP
inline constexpr unsigned ID_HELP = 0xE146;
#endif
