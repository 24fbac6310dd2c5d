#include "framework/win32/dialog_template_win32.h"

#include "framework/win32/windows_api.h"

namespace {

// The predefined window classes, by the atoms a template names them with.
std::uint16_t classAtom(ControlKind kind) {
    switch (kind) {
    case ControlKind::Button:
        return 0x0080;
    case ControlKind::Edit:
        return 0x0081;
    case ControlKind::Static:
        return 0x0082;
    case ControlKind::ComboBox:
        return 0x0085;
    }
    return 0x0082;
}

class TemplateWriter {
public:
    void word(std::uint16_t value) { m_words.push_back(value); }
    void shortValue(int value) {
        word(static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    }
    void dword(std::uint32_t value) {
        word(static_cast<std::uint16_t>(value & 0xFFFFu));
        word(static_cast<std::uint16_t>(value >> 16));
    }
    // A resource named by number instead of by text.
    void ordinal(int value) {
        word(0xFFFF);
        word(static_cast<std::uint16_t>(value));
    }
    void text(const char* value) {
        const char* ansi = value ? value : "";
        const int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
        std::vector<wchar_t> wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
        if (length > 0) {
            MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length);
        }
        for (wchar_t c : wide) {
            word(static_cast<std::uint16_t>(c));
        }
    }
    void alignToDword() {
        if (m_words.size() % 2 != 0) {
            word(0);
        }
    }
    std::vector<std::uint16_t> take() { return std::move(m_words); }

private:
    std::vector<std::uint16_t> m_words;
};

void writeRect(TemplateWriter& out, const DialogRect& rect) {
    out.shortValue(rect.x);
    out.shortValue(rect.y);
    out.shortValue(rect.width);
    out.shortValue(rect.height);
}

} // namespace

std::vector<std::uint16_t> BuildWin32DialogTemplate(const DialogTemplate& tmpl) {
    TemplateWriter out;
    // The templates leave the position to the framework, which centres its dialogs.
    out.dword(tmpl.style | DS_CENTER);
    out.dword(tmpl.exStyle);
    out.word(static_cast<std::uint16_t>(tmpl.controls.size()));
    writeRect(out, {0, 0, tmpl.width, tmpl.height});
    out.word(0); // no menu
    out.word(0); // the dialog class
    out.text(tmpl.caption);
    if (tmpl.style & dlgstyle::kSetFont) {
        out.word(static_cast<std::uint16_t>(tmpl.fontPointSize));
        out.text(tmpl.fontName);
    }
    for (const ControlTemplate& c : tmpl.controls) {
        out.alignToDword();
        out.dword(c.style);
        out.dword(0); // extended style
        writeRect(out, c.rect);
        out.word(static_cast<std::uint16_t>(c.id)); // kNoControlId is 0xFFFF, IDC_STATIC
        out.ordinal(classAtom(c.kind));
        if (c.imageResource != 0) {
            out.ordinal(c.imageResource);
        } else {
            out.text(c.caption);
        }
        out.word(0); // no creation data
    }
    return out.take();
}
