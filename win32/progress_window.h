// SPDX-License-Identifier: MIT
#pragma once
// The small modal window that shows how far long work has come: a line of
// text and a progress bar, no cancel, no close box.

#include <windows.h>

#include <cstdint>
#include <string>

namespace glitchwerk {

class ProgressWindow {
  public:
    // Centred over `owner` (disabled by the caller), or over the screen.
    ProgressWindow(HWND owner, std::wstring what, HFONT font);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void Update(std::uint64_t done, std::uint64_t total);

  private:
    HWND m_window = nullptr;
    HWND m_text = nullptr;
    HWND m_bar = nullptr;
    std::wstring m_what;
};

} // namespace glitchwerk
