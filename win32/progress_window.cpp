// SPDX-License-Identifier: MIT
#include "win32/progress_window.h"

#include <commctrl.h>

namespace glitchwerk {
namespace {

constexpr wchar_t kClassName[] = L"GlitchwerkProgress";
constexpr int kWidth = 320;
constexpr int kHeight = 110;

// Nothing the user does closes it: Alt+F4 included.
LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE)
        return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterOnce() {
    static const ATOM atom = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = ProgressProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)); // IDC_WAIT
        type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        type.lpszClassName = kClassName;
        return RegisterClassExW(&type);
    }();
    (void)atom;
}

} // namespace

ProgressWindow::ProgressWindow(HWND owner, std::wstring what, HFONT font)
    : m_what(std::move(what)) {
    RegisterOnce();
    RECT over{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (owner)
        GetWindowRect(owner, &over);
    const UINT dpi = owner ? GetDpiForWindow(owner) : GetDpiForSystem();
    const int width = MulDiv(kWidth, static_cast<int>(dpi), 96);
    const int height = MulDiv(kHeight, static_cast<int>(dpi), 96);
    const int margin = MulDiv(12, static_cast<int>(dpi), 96);
    m_window =
        CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, L"Glitchwerk", WS_POPUP | WS_CAPTION,
                        (over.left + over.right - width) / 2, (over.top + over.bottom - height) / 2,
                        width, height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    RECT client;
    GetClientRect(m_window, &client);
    const int inner = client.right - 2 * margin;
    m_text =
        CreateWindowExW(0, L"STATIC", m_what.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, margin,
                        margin, inner, 3 * margin, m_window, nullptr, nullptr, nullptr);
    m_bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, margin,
                            client.bottom - 2 * margin - margin / 2, inner, 3 * margin / 2,
                            m_window, nullptr, nullptr, nullptr);
    SendMessageW(m_text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(m_bar, PBM_SETRANGE32, 0, 1000);
    ShowWindow(m_window, SW_SHOW);
    UpdateWindow(m_window);
}

ProgressWindow::~ProgressWindow() {
    DestroyWindow(m_window);
}

void ProgressWindow::Update(std::uint64_t done, std::uint64_t total) {
    const std::wstring text = m_what + L"\n" + std::to_wstring(done >> 20) + L" of " +
                              std::to_wstring(total >> 20) + L" MiB";
    SetWindowTextW(m_text, text.c_str());
    SendMessageW(m_bar, PBM_SETPOS, total ? static_cast<WPARAM>(done * 1000 / total) : 0, 0);
}

} // namespace glitchwerk
