#pragma once
// A dialog template as data: the one description of a dialog's window and controls that both
// backends build from (the headless surface directly, the Win32 backend as an in-memory
// DLGTEMPLATE). Style bits carry their Windows values.

#include <cstdint>
#include <span>

namespace dlgstyle {
// Window styles.
inline constexpr std::uint32_t kPopup = 0x80000000u;
inline constexpr std::uint32_t kChild = 0x40000000u;
inline constexpr std::uint32_t kVisible = 0x10000000u;
inline constexpr std::uint32_t kDisabled = 0x08000000u;
inline constexpr std::uint32_t kCaption = 0x00C00000u;
inline constexpr std::uint32_t kBorder = 0x00800000u;
inline constexpr std::uint32_t kVScroll = 0x00200000u;
inline constexpr std::uint32_t kSysMenu = 0x00080000u;
inline constexpr std::uint32_t kGroup = 0x00020000u;
inline constexpr std::uint32_t kTabStop = 0x00010000u;
// Dialog styles.
inline constexpr std::uint32_t kModalFrame = 0x00000080u;
inline constexpr std::uint32_t kSetFont = 0x00000040u;
inline constexpr std::uint32_t kExAppWindow = 0x00040000u;
// Buttons.
inline constexpr std::uint32_t kDefPushButton = 0x00000001u;
inline constexpr std::uint32_t kGroupBox = 0x00000007u;
inline constexpr std::uint32_t kButtonCenter = 0x00000300u;
inline constexpr std::uint32_t kButtonFlat = 0x00008000u;
// Drop-down lists.
inline constexpr std::uint32_t kDropDownList = 0x00000003u;
// Edits.
inline constexpr std::uint32_t kEditMultiLine = 0x00000004u;
inline constexpr std::uint32_t kEditAutoHScroll = 0x00000080u;
inline constexpr std::uint32_t kEditReadOnly = 0x00000800u;
// Statics.
inline constexpr std::uint32_t kStaticCenter = 0x00000001u;
inline constexpr std::uint32_t kStaticBitmap = 0x0000000Eu;
inline constexpr std::uint32_t kStaticNoPrefix = 0x00000080u;
inline constexpr std::uint32_t kStaticCenterImage = 0x00000200u;
inline constexpr std::uint32_t kStaticSunken = 0x00001000u;
} // namespace dlgstyle

enum class ControlKind { Button, ComboBox, Edit, Static };

struct DialogRect {
    int x, y, width, height; // dialog units
};

struct ControlTemplate {
    int id; // kNoControlId for labels, frames and pictures
    ControlKind kind;
    const char* caption;
    DialogRect rect;
    std::uint32_t style;   // child and visibility bits included
    int imageResource = 0; // bitmap shown by a picture control
};

inline constexpr int kNoControlId = -1;

struct DialogTemplate {
    int resourceId;
    const char* caption;
    int width, height;
    const char* fontName;
    int fontPointSize;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::span<const ControlTemplate> controls; // template order, which is the tab order
};

constexpr bool startsVisible(const ControlTemplate& c) {
    return (c.style & dlgstyle::kVisible) != 0;
}
constexpr bool startsEnabled(const ControlTemplate& c) {
    return (c.style & dlgstyle::kDisabled) == 0;
}
