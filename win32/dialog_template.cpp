// SPDX-License-Identifier: MIT
#include "win32/dialog_template.h"

#include "dialog/control_table.h"
#include "dialog/panel_view.h"
#include "win32/wide_text.h"

#include <commctrl.h>

namespace glitchwerk {
namespace {

// The predefined classes' atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kListBoxClass = 0x0083;
constexpr WORD kComboBoxClass = 0x0085;

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

// A predefined class by its atom, or another by its name.
struct ControlStyle {
    WORD windowClass;
    DWORD style;
    DWORD exStyle;
    const wchar_t* className = nullptr;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

ControlStyle StyleOf(ControlKind kind) {
    switch (kind) {
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

ControlStyle StyleOf(PanelControlKind kind) {
    switch (kind) {
    case PanelControlKind::Frame:
        return StyleOf(ControlKind::Frame);
    case PanelControlKind::Radio:
        // The panel's logic keeps the spread's choices exclusive, in the tab
        // order so that the keyboard reaches them.
        return {kButtonClass, kChild | BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 0};
    case PanelControlKind::Edit:
        return StyleOf(ControlKind::Edit);
    case PanelControlKind::Check:
        return {kButtonClass, kChild | BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0};
    case PanelControlKind::Button:
        return StyleOf(ControlKind::Button);
    case PanelControlKind::List:
        return {kListBoxClass,
                kChild | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | WS_GROUP | LBS_NOTIFY |
                    LBS_NOINTEGRALHEIGHT,
                0};
    case PanelControlKind::Text:
        return StyleOf(ControlKind::Text);
    case PanelControlKind::Picture:
        // Drawn by the panel; its text is the reason when there is no picture.
        return {kStaticClass, kChild | SS_OWNERDRAW | WS_BORDER | WS_GROUP, 0};
    case PanelControlKind::Combo:
        return {kComboBoxClass, kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP, 0};
    case PanelControlKind::PartList:
        // A check box in each row (set by the panel): a list view of one column.
        return {0,
                kChild | WS_BORDER | WS_TABSTOP | WS_GROUP | LVS_REPORT | LVS_NOCOLUMNHEADER |
                    LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                0, WC_LISTVIEWW};
    case PanelControlKind::Play:
        // Not on this face yet: never shown.
        return {kStaticClass, WS_CHILD | WS_GROUP, 0};
    }
    return {};
}

ControlStyle StyleOf(const ControlTemplate& control) {
    return StyleOf(control.kind);
}

ControlStyle StyleOf(const PanelControl& control) {
    ControlStyle style = StyleOf(control.kind);
    // The history's two columns at a tab stop; its steps cut short, never
    // scrolled across to.
    if (control.id == IDC_HISTORY)
        style.style = (style.style & ~static_cast<DWORD>(WS_HSCROLL)) | LBS_USETABSTOPS;
    // The status wraps a long path too, and the whole of it can be selected
    // and scrolled through: an edit that cannot be changed, without a border.
    if (control.id == IDC_PANEL_STATUS)
        style = {kEditClass, kChild | WS_GROUP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0};
    return style;
}

// The window's header, then one record for each control of `controls`.
template <typename Controls>
std::vector<WORD> BuildTemplate(DWORD style, DWORD exStyle, const char* caption, int width,
                                int height, const Controls& controls, const std::wstring& font,
                                WORD points) {
    TemplateWriter out;
    out.Word(1);      // dlgVer
    out.Word(0xFFFF); // signature: extended
    out.Dword(0);     // helpID
    out.Dword(exStyle);
    out.Dword(style | DS_SETFONT);
    out.Word(static_cast<WORD>(std::size(controls)));
    out.Word(0);
    out.Word(0);
    out.Word(static_cast<WORD>(width));
    out.Word(static_cast<WORD>(height));
    out.Word(0); // no menu
    out.Word(0); // the dialog class
    out.Text(Widen(caption));
    out.Word(points);
    out.Word(FW_NORMAL);
    out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET)); // italic, charset
    out.Text(font);
    for (const auto& control : controls) {
        const ControlStyle kind = StyleOf(control);
        out.AlignToDword();
        out.Dword(0); // helpID
        out.Dword(kind.exStyle);
        out.Dword(kind.style);
        for (const int value : {control.x, control.y, control.width, control.height})
            out.Word(static_cast<WORD>(value));
        out.Dword(static_cast<DWORD>(control.id));
        if (kind.className) {
            out.Text(kind.className);
        } else {
            out.Word(0xFFFF);
            out.Word(kind.windowClass);
        }
        out.Text(Widen(control.caption));
        out.Word(0); // no creation data
    }
    return out.Take();
}

} // namespace

std::vector<WORD> BuildDialogTemplate(const std::wstring& font, WORD points) {
    // Placed at 0, 0 and centred on the screen, as the platform's own dialog
    // class centres it.
    return BuildTemplate(
        DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
        WS_EX_APPWINDOW, kDialogCaption, kDialogWidth, kDialogHeight, kControls, font, points);
}

std::vector<WORD> BuildPanelTemplate(const std::wstring& font, WORD points) {
    // Hidden until it is placed beside the dialog.
    return BuildTemplate(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW,
                         kPanelCaption, kPanelWidth, kPanelHeight, kPanelControls, font, points);
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
