#include "window_capture.h"

#include "ui_automation.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The pixels of a screen area, bottom row first as a BMP file holds them.
struct Picture {
    BITMAPINFOHEADER header{};
    std::vector<std::uint8_t> pixels;
};

std::optional<Picture> takePicture(const RECT& area) {
    Picture picture;
    picture.header.biSize = sizeof picture.header;
    picture.header.biWidth = area.right - area.left;
    picture.header.biHeight = area.bottom - area.top;
    picture.header.biPlanes = 1;
    picture.header.biBitCount = 24;
    picture.header.biCompression = BI_RGB;
    if (picture.header.biWidth <= 0 || picture.header.biHeight <= 0) {
        return std::nullopt;
    }
    const auto stride = static_cast<std::size_t>((picture.header.biWidth * 3 + 3) & ~3);
    picture.pixels.resize(stride * static_cast<std::size_t>(picture.header.biHeight));

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap =
        CreateCompatibleBitmap(screen, picture.header.biWidth, picture.header.biHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, picture.header.biWidth, picture.header.biHeight,
                               screen, area.left, area.top, SRCCOPY) != 0;
    SelectObject(memory, previous);
    BITMAPINFO format{};
    format.bmiHeader = picture.header;
    const bool read =
        copied && GetDIBits(memory, bitmap, 0, static_cast<UINT>(picture.header.biHeight),
                            picture.pixels.data(), &format, DIB_RGB_COLORS) != 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!read) {
        return std::nullopt;
    }
    return picture;
}

bool writeBmp(const Picture& picture, const std::string& path) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof picture.header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + picture.pixels.size());
    const std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    return out && std::fwrite(&file, sizeof file, 1, out.get()) == 1 &&
           std::fwrite(&picture.header, sizeof picture.header, 1, out.get()) == 1 &&
           std::fwrite(picture.pixels.data(), picture.pixels.size(), 1, out.get()) == 1;
}

} // namespace

std::string saveWindowPicture(HWND window, const std::string& path) {
    RECT area{};
    if (!GetWindowRect(window, &area)) {
        return "the window is gone";
    }
    std::optional<Picture> settled;
    std::optional<Picture> latest = takePicture(area);
    const bool steady = ui::waitUntil([&] {
        std::optional<Picture> next = takePicture(area);
        settled = latest && next && next->pixels == latest->pixels ? next : std::nullopt;
        latest = std::move(next);
        return settled.has_value();
    });
    if (!steady) {
        return latest ? "the window kept changing" : "the screen could not be read";
    }
    if (!writeBmp(*settled, path)) {
        return "cannot write " + path;
    }
    return {};
}
