#include "window_capture.h"

#include "ui_automation.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The pixels of a screen area as a 24-bit BMP file holds them, bottom row first; empty when the
// screen could not be read.
std::vector<std::uint8_t> takePicture(const RECT& area, BITMAPINFOHEADER& header) {
    header = {};
    header.biSize = sizeof header;
    header.biWidth = area.right - area.left;
    header.biHeight = area.bottom - area.top;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(((header.biWidth * 3 + 3) & ~3) *
                                                              std::max(header.biHeight, LONG{0})));
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, header.biWidth, header.biHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, header.biWidth, header.biHeight, screen, area.left,
                               area.top, SRCCOPY) != 0;
    SelectObject(memory, previous);
    BITMAPINFO format{header, {}};
    const bool read = copied && !pixels.empty() &&
                      GetDIBits(memory, bitmap, 0, static_cast<UINT>(header.biHeight),
                                pixels.data(), &format, DIB_RGB_COLORS) != 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return read ? pixels : std::vector<std::uint8_t>{};
}

} // namespace

std::string saveWindowPicture(HWND window, const std::string& path) {
    RECT area{};
    if (!GetWindowRect(window, &area)) {
        return "the window is gone";
    }
    // Two pictures in a row that agree: the program has finished painting.
    BITMAPINFOHEADER header{};
    std::vector<std::uint8_t> latest = takePicture(area, header);
    std::vector<std::uint8_t> settled;
    ui::waitUntil([&] {
        std::vector<std::uint8_t> next = takePicture(area, header);
        settled = !next.empty() && next == latest ? next : std::vector<std::uint8_t>{};
        latest = std::move(next);
        return !settled.empty();
    });
    if (settled.empty()) {
        return "the window kept changing, or the screen could not be read";
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + settled.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    const bool written = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&header, sizeof header, 1, out) == 1 &&
                         std::fwrite(settled.data(), settled.size(), 1, out) == 1;
    return out && std::fclose(out) == 0 && written ? "" : "cannot write " + path;
}
