// SPDX-License-Identifier: MIT
// The real glitchwerk.exe, started on a scratch file and driven from here by
// control id, as a user would: it types, clicks, reads the fields, answers
// the message boxes, and checks the bytes on disk.

#include "dialog/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <utility>

namespace fs = std::filesystem;

namespace {

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Counting(int length) {
    std::string bytes(static_cast<std::size_t>(length), '\0');
    return std::iota(bytes.begin(), bytes.end(), '\0'), bytes;
}

class Program {
  public:
    Program(const fs::path& folder, const std::wstring& file) {
        std::wstring exe = fs::path(GLITCHWERK_EXE).make_preferred().wstring();
        if (exe.starts_with(L"\\"))
            exe = L"Z:" + exe; // a path of the machine that built it, under Wine
        std::wstring command = L"\"" + exe + L"\"";
        if (!file.empty())
            command += L" \"" + file + L"\"";
        STARTUPINFOW start{};
        start.cb = sizeof start;
        EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.c_str(), &start, &m_process));
    }
    ~Program() {
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process.hProcess, 1);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    bool Ended() { return WaitForSingleObject(m_process.hProcess, 20000) == WAIT_OBJECT_0; }

    // The dialog (main) or a message box of the program, once visible.
    HWND Window(bool main, const wchar_t* title = L"Glitchwerk") {
        for (int tries = 0; tries < 1000; ++tries, Sleep(20)) {
            for (HWND window = nullptr;
                 (window = FindWindowExW(nullptr, window, L"#32770", title));) {
                DWORD pid = 0;
                GetWindowThreadProcessId(window, &pid);
                if (pid == m_process.dwProcessId && IsWindowVisible(window) &&
                    (GetDlgItem(window, IDC_RECORRUPT) || GetDlgItem(window, IDC_HISTORY)) == main)
                    return window;
            }
        }
        ADD_FAILURE() << (main ? "no dialog" : "no message box");
        return nullptr;
    }

    // Answers the message box that says `text` with button `id`.
    void Answer(const std::wstring& text, int id) {
        const HWND box = Window(false);
        EXPECT_EQ(Text(box, 0xFFFF), text);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        while (IsWindow(box))
            Sleep(20);
    }

    static std::wstring Text(HWND window, int id) {
        wchar_t text[512] = L"";
        GetDlgItemTextW(window, id, text, 512);
        return text;
    }

  private:
    PROCESS_INFORMATION m_process{};
};

void Type(HWND dialog, int id, const wchar_t* text) {
    SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void Click(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

class Win32Face : public testing::Test {
  protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        m_folder = fs::temp_directory_path() / ("glitchwerk-face-" + std::string(test->name()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        std::ofstream(m_folder / L"gäme & co.nes", std::ios::binary) << Counting(256);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path Rom() const { return m_folder / L"gäme & co.nes"; }
    fs::path DataFile() const { return m_folder / "Glitchwerk.dat"; }
    fs::path m_folder;
};

TEST_F(Win32Face, SessionFromStartToExitWithYes) {
    Program program(m_folder, Rom().wstring());
    const HWND dialog = program.Window(true);
    EXPECT_EQ(Program::Text(dialog, IDC_FILE_PATH), Rom().wstring());
    EXPECT_EQ(Program::Text(dialog, IDC_FILE_SIZE), L"100");
    // Offsets 10 to 20, bytes 14 up to 18 increased by 80.
    Type(dialog, IDC_RANGE_START, L"10");
    Type(dialog, IDC_RANGE_END, L"20");
    Click(dialog, IDC_SEARCH_RANGE);
    Type(dialog, IDC_SEARCH_LOW, L"14");
    Type(dialog, IDC_SEARCH_HIGH, L"18");
    Click(dialog, IDC_REPLACE_INCREASE);
    Type(dialog, IDC_STEP_VALUE, L"80");
    Click(dialog, IDC_CORRUPT);
    program.Answer(L"Corruption sucessful", IDOK);
    std::string corrupted = Counting(256);
    for (int at = 0x14; at < 0x18; ++at)
        corrupted[at] = static_cast<char>(at + 0x80);
    EXPECT_EQ(Bytes(Rom()), corrupted);
    EXPECT_EQ(Program::Text(dialog, IDC_TOTAL_BYTES), L"4");
    EXPECT_EQ(Program::Text(dialog, IDC_FIRST_BYTE), L"14");
    EXPECT_EQ(Program::Text(dialog, IDC_LAST_BYTE), L"17");

    Click(dialog, IDC_RESTORE);
    program.Answer(L"File Restore Sucessfully", IDOK);
    EXPECT_EQ(Bytes(Rom()), Counting(256));
    Click(dialog, IDC_CORRUPT);
    program.Answer(L"Corruption sucessful", IDOK);
    Click(dialog, IDCANCEL);
    program.Answer(L"Restore file before exiting?", IDYES);
    ASSERT_TRUE(program.Ended());
    EXPECT_EQ(Bytes(Rom()), Counting(256));
    EXPECT_TRUE(fs::exists(DataFile()) && fs::file_size(DataFile()) == 0);
}

TEST_F(Win32Face, EscThenNoKeepsTheCorruption) {
    Program program(m_folder, Rom().wstring());
    const HWND dialog = program.Window(true);
    Type(dialog, IDC_RANGE_END, L"FFFF");
    Click(dialog, IDC_SEARCH_ALL);
    Type(dialog, IDC_REPLACE_VALUE, L"0");
    // Enter in a field runs Re-Corrupt, the default button.
    const HWND field = GetDlgItem(dialog, IDC_REPLACE_VALUE);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
    program.Answer(L"Corruption sucessful", IDOK);
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
    program.Answer(L"Restore file before exiting?", IDNO);
    ASSERT_TRUE(program.Ended());
    EXPECT_EQ(Bytes(Rom()), std::string(256, '\0'));
    EXPECT_EQ(fs::file_size(DataFile()), 0u);
}

// On 1280x800 and 1920x1200 screens: on the work area, apart, centred together.
TEST_F(Win32Face, PanelBesideTheDialogClosesAndComesBack) {
    Program program(m_folder, Rom().wstring());
    const HWND dialog = program.Window(true);
    const HWND panel = program.Window(true, L"Glitchwerk panel");
    RECT size, at, work, both;
    GetWindowRect(dialog, &size);
    GetWindowRect(panel, &at);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_TRUE(at.left >= size.right || at.right <= size.left);
    EXPECT_EQ(at.top, size.top);
    UnionRect(&both, &size, &at);
    EXPECT_TRUE(both.left >= work.left && both.top >= work.top && both.right <= work.right &&
                both.bottom <= work.bottom);
    EXPECT_NEAR(size.left - work.left, work.right - at.right, 1);
    const auto shown = [&](bool visible) {
        for (int tries = 0; tries < 250 && IsWindowVisible(panel) != visible; ++tries)
            Sleep(20);
        return IsWindowVisible(panel) == visible;
    };
    // Closed, then back with F2 (focus in a field) and with the system menu.
    for (const auto& [message, wParam] :
         {std::pair{WM_KEYDOWN, VK_F2}, {WM_SYSCOMMAND, IDM_SHOW_PANEL}}) {
        PostMessageW(panel, WM_CLOSE, 0, 0);
        EXPECT_TRUE(shown(false));
        PostMessageW(message == WM_KEYDOWN ? GetDlgItem(dialog, IDC_RANGE_START) : dialog, message,
                     wParam, 0);
        EXPECT_TRUE(shown(true));
    }
    RECT now;
    GetWindowRect(dialog, &now);
    EXPECT_TRUE(EqualRect(&size, &now));
}

TEST_F(Win32Face, APartFillsTheRangeAndThePreviewShowsTiles) {
    std::ofstream(Rom(), std::ios::binary)
        << "NES\x1A\x01\x01" << std::string(10, '\0') << std::string(0x6000, '\x55');
    Program program(m_folder, Rom().wstring());
    const HWND dialog = program.Window(true);
    const HWND panel = program.Window(true, L"Glitchwerk panel");
    const HWND parts = GetDlgItem(panel, IDC_PARTS);
    ASSERT_EQ(SendMessageW(parts, LVM_GETITEMCOUNT, 0, 0), 3);
    SendMessageW(parts, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(Program::Text(dialog, IDC_RANGE_START) + Program::Text(dialog, IDC_RANGE_END),
              L"40106010");
    Click(dialog, IDC_CORRUPT);
    program.Answer(L"Corruption sucessful", IDOK);
    // Tiles, not the reason there are none.
    EXPECT_EQ(Program::Text(panel, IDC_PREVIEW), L"");
}

// The names offered and the recipe copied keep the folder's and the file's "é".
TEST_F(Win32Face, NamesWithAnAccentKeepItInTheOfferedNamesAndTheRecipe) {
    const fs::path rom = m_folder / L"caf\u00e9" / L"caf\u00e9.nes";
    fs::create_directories(rom.parent_path());
    std::ofstream(rom, std::ios::binary) << Counting(256);
    Program program(rom.parent_path(), rom.wstring());
    const HWND dialog = program.Window(true);
    const HWND panel = program.Window(true, L"Glitchwerk panel");
    Type(dialog, IDC_RANGE_END, L"FF");
    Click(dialog, IDC_SEARCH_ALL);
    Click(dialog, IDC_CORRUPT);
    program.Answer(L"Corruption sucessful", IDOK);
    SendDlgItemMessageW(panel, IDC_HISTORY, LB_SETCURSEL, 0, 0);
    SendMessageW(panel, WM_COMMAND, MAKEWPARAM(IDC_HISTORY, LBN_SELCHANGE), 0);
    for (const auto& [button, title, name] :
         {std::tuple{IDC_SAVE_COPY, L"Save copy as", L"caf\u00e9-glitch.nes"},
          {IDC_SAVE_TRY, L"Save try", L"caf\u00e9-"}}) {
        Click(panel, button);
        const HWND ask = program.Window(false, title); // its name in cmb13
        EXPECT_TRUE(Program::Text(ask, 0x47C).starts_with(name));
        PostMessageW(ask, WM_COMMAND, IDCANCEL, 0);
        while (IsWindow(ask))
            Sleep(20);
    }
    SendMessageW(panel, WM_COMMAND, IDC_COPY_RECIPE, 0);
    ASSERT_TRUE(OpenClipboard(nullptr));
    const HANDLE text = GetClipboardData(CF_UNICODETEXT);
    const std::wstring recipe = text ? static_cast<const wchar_t*>(GlobalLock(text)) : L"";
    CloseClipboard();
    EXPECT_NE(recipe.find(L"caf\u00e9\\caf\u00e9.nes"), std::wstring::npos) << recipe;
    EXPECT_NE(recipe.find(L"caf\u00e9\\caf\u00e9-"), std::wstring::npos) << recipe;
}

TEST_F(Win32Face, TheOpenDialogAtStartIsInTheMiddleOfTheWorkArea) {
    Program program(m_folder, L"");
    const HWND open = program.Window(false, L"Open");
    RECT at, work;
    ASSERT_TRUE(GetWindowRect(open, &at));
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_NEAR(at.left - work.left, work.right - at.right, 1);
    EXPECT_NEAR(at.top - work.top, work.bottom - at.bottom, 1);
    PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(program.Ended());
}

TEST_F(Win32Face, AFileThatCannotBeOpenedEndsTheRun) {
    Program program(m_folder, (m_folder / "missing.nes").wstring());
    program.Answer(L"Error opening file.", IDOK);
    ASSERT_TRUE(program.Ended());
    EXPECT_FALSE(fs::exists(m_folder / "missing.nes"));
    EXPECT_EQ(fs::file_size(DataFile()), 0u);
}

} // namespace
