// SPDX-License-Identifier: MIT
#include "win32/win32_panel.h"

#include "dialog/glitchwerk_dlg.h"
#include "win32/dialog_template.h"
#include "win32/wide_text.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

namespace glitchwerk {
namespace {

constexpr WORD kFontPoints = 8; // the dialog's
constexpr int kGap = 8;         // pixels between the dialog and the panel

std::wstring TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

Win32Panel::Win32Panel(CGlitchwerkDlg& logic, HWND dialog) : m_logic(logic), m_dialog(dialog) {
    const std::vector<WORD> panel = BuildPanelTemplate(DialogFontName(), kFontPoints);
    m_window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(panel.data()), dialog,
                                          PanelProc, reinterpret_cast<LPARAM>(this));
    for (const PanelControl& control : kPanelControls) {
        if (control.kind == PanelControlKind::Edit)
            SendDlgItemMessageW(m_window, control.id, EM_SETLIMITTEXT, 0, 0);
    }
    m_logic.AttachPanel(*this);
}

Win32Panel::~Win32Panel() {
    if (m_window)
        DestroyWindow(m_window);
}

INT_PTR CALLBACK Win32Panel::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return FALSE; // shown without the focus
    }
    auto* self = reinterpret_cast<Win32Panel*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) { // Esc, like the close box
            ShowWindow(window, SW_HIDE);
        } else if ((HIWORD(wParam) == BN_CLICKED && id != IDOK) ||
                   (id == IDC_HISTORY && HIWORD(wParam) == LBN_SELCHANGE)) {
            self->m_logic.OnPanelCommand(id);
        }
        return TRUE;
    }
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return TRUE;
    default:
        return FALSE;
    }
}

void Win32Panel::Open() {
    if (!IsWindowVisible(m_window)) {
        // Beside the dialog, on the right where the screen has room, else on the left.
        RECT dialog, panel;
        GetWindowRect(m_dialog, &dialog);
        GetWindowRect(m_window, &panel);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(m_dialog, MONITOR_DEFAULTTONEAREST), &monitor);
        const int width = panel.right - panel.left;
        int x = dialog.right + kGap;
        if (x + width > monitor.rcWork.right)
            x = std::max(monitor.rcWork.left, dialog.left - kGap - width);
        SetWindowPos(m_window, nullptr, x, dialog.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(m_window, SW_SHOWNOACTIVATE);
        m_logic.OnPanelShown();
    }
}

bool Win32Panel::IsOpen() const {
    return m_window && IsWindowVisible(m_window);
}

std::string Win32Panel::FieldText(int id) const {
    return Narrow(TextOf(GetDlgItem(m_window, id)));
}

void Win32Panel::SetFieldText(int id, const std::string& text) {
    SetDlgItemTextW(m_window, id, Widen(text).c_str());
}

void Win32Panel::ShowText(int id, const std::string& text) {
    SetDlgItemTextW(m_window, id, Widen(text).c_str());
}

bool Win32Panel::IsChecked(int id) const {
    return SendDlgItemMessageW(m_window, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Panel::SetChecked(int id, bool checked) {
    SendDlgItemMessageW(m_window, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Panel::SetEnabled(int id, bool enabled) {
    EnableWindow(GetDlgItem(m_window, id), enabled);
}

void Win32Panel::ShowHistory(const std::vector<std::string>& rows, int selected) {
    const HWND list = GetDlgItem(m_window, IDC_HISTORY);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // Rows are wider than the list: it scrolls across to the widest.
    const HDC context = GetDC(list);
    const HGDIOBJ old =
        SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::string& row : rows) {
        const std::wstring text = Widen(row);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        SIZE size{};
        GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, size.cx + 8);
    }
    SelectObject(context, old);
    ReleaseDC(list, context);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0); // -1: none
}

int Win32Panel::SelectedRow() const {
    const LRESULT row = SendDlgItemMessageW(m_window, IDC_HISTORY, LB_GETCURSEL, 0, 0);
    return row == LB_ERR ? -1 : static_cast<int>(row);
}

void Win32Panel::SetClipboardText(const std::string& text) {
    const std::wstring wide = Widen(text);
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory)
        return;
    std::memcpy(GlobalLock(memory), wide.c_str(), bytes);
    GlobalUnlock(memory);
    // Another program may hold the clipboard for a moment.
    bool open = false;
    for (int tries = 0; tries < 10 && !(open = OpenClipboard(m_window)); ++tries)
        Sleep(20);
    if (open && EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory)) {
        CloseClipboard();
        return;
    }
    if (open)
        CloseClipboard();
    GlobalFree(memory);
}

std::optional<std::filesystem::path>
Win32Panel::AskForSaveName(const std::filesystem::path& suggested, bool& replace) {
    std::wstring file(32768, L'\0'); // long paths too
    const std::wstring name = suggested.filename().wstring();
    std::copy(name.begin(),
              name.begin() + static_cast<std::ptrdiff_t>(std::min(name.size(), file.size() - 1)),
              file.begin());
    const std::wstring folder = suggested.parent_path().wstring();
    OPENFILENAMEW ask{};
    ask.lStructSize = sizeof ask;
    // Over the dialog, which it disables, and the panel with it.
    ask.hwndOwner = m_dialog;
    ask.lpstrFile = file.data();
    ask.nMaxFile = static_cast<DWORD>(file.size());
    ask.lpstrInitialDir = folder.c_str();
    ask.lpstrTitle = L"Save copy as";
    ask.Flags =
        OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&ask))
        return std::nullopt;
    const std::filesystem::path chosen(file.c_str());
    std::error_code error;
    // The dialog asked before it named a file that exists.
    replace = std::filesystem::exists(chosen, error);
    return chosen;
}

std::filesystem::path Win32Panel::DataFolder() const {
    PWSTR folder = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)))
        path = std::filesystem::path(folder) / L"Glitchwerk";
    CoTaskMemFree(folder);
    return path;
}

} // namespace glitchwerk
