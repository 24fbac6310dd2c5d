#pragma once
// Pictures of what a window shows on the screen, for the documentation's screenshots.

#include <windows.h>

#include <string>

// Writes the screen area of `window`, frame and caption included, to `path` as a 24-bit BMP
// file, once two pictures taken in a row agree (the program has finished painting). Empty on
// success; otherwise why it failed.
std::string saveWindowPicture(HWND window, const std::string& path);
