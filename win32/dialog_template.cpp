// SPDX-License-Identifier: MIT
#include "win32/dialog_template.h"

#include "dialog/control_table.h"
#include "win32/wide_text.h"

namespace glitchwerk {
namespace {

// The predefined classes' atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

class TemplateWriter {
  public:
    void Word(WORD value) { m_words.push_back(value); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(const std::wstring& text) {
        m_words.insert(m_words.end(), text.begin(), text.end());
        Word(0);
    }
    void AlignToDword() {
        if (m_words.size() % 2)
            Word(0);
    }
    std::vector<WORD> Take() { return std::move(m_words); }

  private:
    std::vector<WORD> m_words;
};

struct ControlStyle {
    WORD windowClass;
    DWORD style;
    DWORD exStyle;
};

ControlStyle StyleOf(const ControlTemplate& control) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    switch (control.kind) {
    case ControlKind::Edit:
        return {kEditClass, kChild | WS_BORDER | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, 0};
    case ControlKind::Radio:
        // Each alone in its group, out of the tab order: the logic keeps
        // the rule groups exclusive.
        return {kButtonClass, kChild | BS_AUTORADIOBUTTON | WS_GROUP, 0};
    case ControlKind::Button:
        return {kButtonClass, kChild | BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0};
    case ControlKind::DefaultButton:
        return {kButtonClass, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0};
    case ControlKind::Text:
        // A path with '&' in it shows as it is.
        return {kStaticClass, kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP, 0};
    case ControlKind::RightText:
        return {kStaticClass, kChild | SS_RIGHT | WS_GROUP, WS_EX_RIGHT};
    case ControlKind::Frame:
        return {kButtonClass, kChild | BS_GROUPBOX | WS_GROUP, 0};
    }
    return {};
}

} // namespace

std::vector<WORD> BuildDialogTemplate(const std::wstring& font, WORD points) {
    TemplateWriter out;
    out.Word(1);      // dlgVer
    out.Word(0xFFFF); // signature: extended
    out.Dword(0);     // helpID
    out.Dword(WS_EX_APPWINDOW);
    // Placed at 0, 0 and centred on the screen, as the platform's own dialog
    // class centres it.
    out.Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_VISIBLE | WS_CAPTION |
              WS_SYSMENU);
    out.Word(static_cast<WORD>(std::size(kControls)));
    out.Word(0);
    out.Word(0);
    out.Word(kDialogWidth);
    out.Word(kDialogHeight);
    out.Word(0); // no menu
    out.Word(0); // the dialog class
    out.Text(Widen(kDialogCaption));
    out.Word(points);
    out.Word(FW_NORMAL);
    out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET)); // italic, charset
    out.Text(font);
    for (const ControlTemplate& control : kControls) {
        const ControlStyle style = StyleOf(control);
        out.AlignToDword();
        out.Dword(0); // helpID
        out.Dword(style.exStyle);
        out.Dword(style.style);
        for (const int value : {control.x, control.y, control.width, control.height})
            out.Word(static_cast<WORD>(value));
        out.Dword(static_cast<DWORD>(control.id));
        out.Word(0xFFFF);
        out.Word(style.windowClass);
        out.Text(Widen(control.caption));
        out.Word(0); // no creation data
    }
    return out.Take();
}

std::wstring DialogFontName() {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(wanted.lfFaceName, L"Consolas");
    bool found = false;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(
        screen, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found ? L"Consolas" : L"Courier New";
}

} // namespace glitchwerk
