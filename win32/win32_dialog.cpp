// SPDX-License-Identifier: MIT
#include "win32/win32_dialog.h"

#include "dialog/control_table.h"
#include "dialog/panel_view.h"
#include "win32/dialog_template.h"
#include "win32/progress_window.h"
#include "win32/wide_text.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

namespace glitchwerk {
namespace {

constexpr wchar_t kTitle[] = L"Glitchwerk"; // every message box's
constexpr WORD kFontPoints = 8;
constexpr UINT kShown = WM_APP; // posted at start-up: handled once the window is up
constexpr DWORD kProgressDelayMs = 500;
constexpr wchar_t kShowPanel[] = L"Show panel";
constexpr UINT_PTR kRangeTyped = 1; // the timer of a pause in typing a range

Win32Dialog* g_running = nullptr; // the one dialog, for the message filter

HICON LoadMainIcon(int metric) {
    const int size = GetSystemMetrics(metric);
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN_ICON),
                                         IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// The start-up Open dialog comes before the dialog, with no owner to be
// placed over: Windows puts it in the screen's corner. It goes to the middle
// of the work area instead, of the screen Windows chose.
HHOOK g_centring = nullptr;

void CentreInWorkArea(HWND window) {
    RECT at;
    MONITORINFO screen{};
    screen.cbSize = sizeof screen;
    if (!GetWindowRect(window, &at) ||
        !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &screen))
        return;
    const RECT& work = screen.rcWork;
    const LONG x = work.left + std::max(0L, (work.right - work.left - (at.right - at.left)) / 2);
    const LONG y = work.top + std::max(0L, (work.bottom - work.top - (at.bottom - at.top)) / 2);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The Open dialog is the first dialog window shown, sized by then.
LRESULT CALLBACK CentringProc(int code, WPARAM wParam, LPARAM lParam) {
    const HHOOK hook = g_centring;
    if (code == HC_ACTION) {
        const auto& call = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        wchar_t kind[8] = L"";
        if (call.message == WM_SHOWWINDOW && call.wParam &&
            !(GetWindowLongPtrW(call.hwnd, GWL_STYLE) & WS_CHILD) &&
            GetClassNameW(call.hwnd, kind, 8) && std::wstring_view(kind) == L"#32770") {
            UnhookWindowsHookEx(hook);
            g_centring = nullptr;
            CentreInWorkArea(call.hwnd);
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

bool IsInput(const MSG& message) {
    return (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
           (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) ||
           (message.message >= WM_NCMOUSEMOVE && message.message <= WM_NCMBUTTONDBLCLK);
}

} // namespace

Win32Dialog::Win32Dialog() : m_logic(*this) {
    m_bigIcon = LoadMainIcon(SM_CXICON);
    m_smallIcon = LoadMainIcon(SM_CXSMICON);
}

Win32Dialog::~Win32Dialog() {
    for (const HICON icon : {m_bigIcon, m_smallIcon}) {
        if (icon)
            DestroyIcon(icon);
    }
}

void Win32Dialog::DoModal() {
    const std::vector<WORD> dialog = BuildDialogTemplate(DialogFontName(), kFontPoints);
    g_running = this;
    m_filter = SetWindowsHookExW(WH_MSGFILTER, FilterProc, nullptr, GetCurrentThreadId());
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                            reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this));
    UnhookWindowsHookEx(m_filter);
    g_running = nullptr;
}

LRESULT CALLBACK Win32Dialog::FilterProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && g_running && g_running->Filter(*reinterpret_cast<MSG*>(lParam)))
        return TRUE;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Win32Dialog::Filter(MSG& message) {
    static bool inPanel = false; // the panel's own IsDialogMessageW comes here too
    if (!m_panel || inPanel || m_busy || !IsWindowEnabled(m_window))
        return false;
    if (message.message == WM_KEYDOWN && message.wParam == VK_F2 && IsOurs(message.hwnd)) {
        m_panel->Open();
        return true;
    }
    const HWND panel = m_panel->Window();
    if (message.hwnd != panel && !IsChild(panel, message.hwnd))
        return false;
    inPanel = true;
    const bool handled = IsDialogMessageW(panel, &message);
    inPanel = false;
    return handled;
}

bool Win32Dialog::IsOurs(HWND window) const {
    const HWND panel = m_panel ? m_panel->Window() : nullptr;
    return window && (window == m_window || IsChild(m_window, window) ||
                      (panel && (window == panel || IsChild(panel, window))));
}

INT_PTR CALLBACK Win32Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<Win32Dialog*>(lParam)->m_window = window;
    }
    auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR Win32Dialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        m_font = reinterpret_cast<HFONT>(SendMessageW(m_window, WM_GETFONT, 0, 0));
        for (const ControlTemplate& control : kControls) {
            if (control.kind == ControlKind::Edit) // any length, as the fields read it
                SendDlgItemMessageW(m_window, control.id, EM_SETLIMITTEXT, 0, 0);
        }
        SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
        SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
        if (!m_logic.OnInitDialog())
            return FALSE; // ended
        m_panel = std::make_unique<Win32Panel>(m_logic, m_window);
        if (const HMENU system = GetSystemMenu(m_window, FALSE)) {
            AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(system, MF_STRING, IDM_SHOW_PANEL,
                        (std::wstring(kShowPanel) + L"\tF2").c_str());
        }
        PostMessageW(m_window, kShown, 0, 0);
        SetFocus(GetDlgItem(m_window, IDC_RANGE_START));
        return FALSE; // the focus is set
    case kShown:
        m_panel->Open();
        m_logic.OnShown();
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_SHOW_PANEL)
            return FALSE;
        if (!m_busy && m_panel)
            m_panel->Open();
        return TRUE;
    case WM_CONTEXTMENU: {
        if (m_busy || !m_panel)
            return FALSE;
        POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (at.x == -1 && at.y == -1) { // from the keyboard
            at = {};
            ClientToScreen(m_window, &at);
        }
        const HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING, IDM_SHOW_PANEL, kShowPanel);
        const BOOL chosen =
            TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, m_window, nullptr);
        DestroyMenu(menu);
        if (chosen == IDM_SHOW_PANEL)
            m_panel->Open();
        return TRUE;
    }
    case WM_ENABLE: // the panel is modal with the dialog: message boxes and work stop both
        if (m_panel)
            EnableWindow(m_panel->Window(), static_cast<BOOL>(wParam));
        return FALSE;
    case WM_COMMAND:
        // Clicks, Enter (the default button) and Esc (IDCANCEL) all say BN_CLICKED.
        if (!m_busy && HIWORD(wParam) == BN_CLICKED)
            m_logic.OnCommand(LOWORD(wParam));
        // The range typed: once typing pauses, the panel's preview follows.
        if (HIWORD(wParam) == EN_CHANGE &&
            (LOWORD(wParam) == IDC_RANGE_START || LOWORD(wParam) == IDC_RANGE_END))
            SetTimer(m_window, kRangeTyped, kTypedRangePauseMs, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam != kRangeTyped)
            return FALSE;
        KillTimer(m_window, kRangeTyped);
        if (!m_busy)
            m_logic.OnRangeTyped();
        return TRUE;
    case WM_CLOSE: // the close box, like Esc and Exit
        if (!m_busy)
            m_logic.OnCommand(IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

HWND Win32Dialog::Owner() const {
    return m_window && IsWindowVisible(m_window) ? m_window : nullptr;
}

std::string Win32Dialog::FieldText(int id) const {
    const HWND field = GetDlgItem(m_window, id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
    std::string bytes;
    for (const wchar_t c : text)
        bytes += c < 0x100 ? static_cast<char>(c) : '?';
    return bytes;
}

void Win32Dialog::SetFieldText(int id, const std::string& text) {
    SetDlgItemTextW(m_window, id, Widen(text).c_str());
}

void Win32Dialog::ShowText(int id, const std::string& text) {
    SetDlgItemTextW(m_window, id, Widen(text).c_str());
}

bool Win32Dialog::IsChecked(int id) const {
    return IsDlgButtonChecked(m_window, id) != BST_UNCHECKED;
}

void Win32Dialog::SetChecked(int id, bool checked) {
    CheckDlgButton(m_window, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32Dialog::SetEnabled(int id, bool enabled) {
    EnableWindow(GetDlgItem(m_window, id), enabled);
}

std::optional<std::filesystem::path> Win32Dialog::AskForFile() {
    std::wstring filter;
    for (const auto& [name, pattern] : kFileFilters)
        filter += Widen(name) + L'\0' + Widen(pattern) + L'\0';
    std::wstring file(32768, L'\0'); // long paths too
    OPENFILENAMEW ask{};
    ask.lStructSize = sizeof ask;
    ask.hwndOwner = Owner();
    ask.lpstrFilter = filter.c_str();
    ask.nFilterIndex = 1;
    ask.lpstrFile = file.data();
    ask.nMaxFile = static_cast<DWORD>(file.size());
    // A name that does not exist passes (the backup then says it cannot be
    // opened); the read-only choice is never offered; the data file stays
    // in the folder the program started in.
    ask.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!ask.hwndOwner)
        g_centring =
            SetWindowsHookExW(WH_CALLWNDPROCRET, CentringProc, nullptr, GetCurrentThreadId());
    const BOOL chosen = GetOpenFileNameW(&ask);
    if (g_centring)
        UnhookWindowsHookEx(std::exchange(g_centring, nullptr));
    if (!chosen)
        return std::nullopt;
    return std::filesystem::path(file.c_str());
}

Answer Win32Dialog::ShowMessage(const std::string& text, MessageButtons buttons) {
    const UINT type = buttons == MessageButtons::Ok ? MB_OK
                      : buttons == MessageButtons::YesNo
                          ? MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2
                          : MB_YESNOCANCEL | MB_ICONQUESTION;
    switch (MessageBoxW(Owner(), Widen(text).c_str(), kTitle, type)) {
    case IDYES:
        return Answer::Yes;
    case IDNO:
        return Answer::No;
    case IDCANCEL:
        return Answer::Cancel;
    default:
        return Answer::Ok;
    }
}

void Win32Dialog::RunWithProgress(const std::string& title,
                                  const std::function<void(const Progress&)>& work) {
    const HWND owner = Owner();
    const bool wasEnabled = owner && !EnableWindow(owner, FALSE);
    m_busy = true;
    std::atomic<std::uint64_t> done = 0, total = 0;
    std::exception_ptr failure;
    const HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
        try {
            work([&](std::uint64_t d, std::uint64_t t) {
                total = t;
                done = d;
            });
        } catch (...) {
            failure = std::current_exception();
        }
        SetEvent(finished);
    });

    // The dialog repaints meanwhile, but no input reaches it.
    const DWORD start = GetTickCount();
    std::unique_ptr<ProgressWindow> progress;
    while (MsgWaitForMultipleObjectsEx(1, &finished, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
           WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (m_window && IsInput(message) && IsOurs(message.hwnd))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!progress && GetTickCount() - start >= kProgressDelayMs)
            progress = std::make_unique<ProgressWindow>(owner, Widen(title), m_font);
        if (progress)
            progress->Update(done, total);
    }
    worker.join();
    CloseHandle(finished);
    MSG late; // input that came in meanwhile is dropped, not run after the work
    while (PeekMessageW(&late, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
    // Enabled before the progress window goes, so that the dialog gets the
    // activation back rather than another program.
    if (wasEnabled)
        EnableWindow(owner, TRUE);
    progress.reset();
    m_busy = false;
    if (failure)
        std::rethrow_exception(failure);
}

void Win32Dialog::EndDialog() {
    ::EndDialog(m_window, IDCANCEL);
}

} // namespace glitchwerk
