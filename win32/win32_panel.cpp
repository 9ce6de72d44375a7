// SPDX-License-Identifier: MIT
#include "win32/win32_panel.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "dialog/placement.h"
#include "win32/dialog_template.h"
#include "win32/wide_text.h"

#include <commdlg.h>
#include <shlobj.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace glitchwerk {
namespace {

constexpr WORD kFontPoints = 8;                    // the dialog's
constexpr UINT kWorkDone = WM_APP;                 // lParam: the Job whose work has ended
constexpr UINT kTicked = INDEXTOSTATEIMAGEMASK(2); // a list view's row with its box ticked
// What Qt's image readers say of data they know but cannot decode.
constexpr char kImageNotRead[] = "Unable to read image data";

std::wstring TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The image in `bytes`, decoded by the Windows Imaging Component and scaled
// to fit `width` x `height`, on a thread where COM is ready.
std::optional<PreviewPicture> DecodeImage(std::span<const std::uint8_t> bytes, UINT width,
                                          UINT height) {
    using Microsoft::WRL::ComPtr;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, &decoder)))
        return std::nullopt;
    PreviewPicture picture;
    picture.why = kImageNotRead;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT w = 0, h = 0;
    if (FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&w, &h)) || !w || !h)
        return picture;
    // A damaged header can claim any size: it is looked at before any pixel is.
    if (static_cast<std::uint64_t>(w) * h > kMostPreviewPixels)
        return picture.why = messages::kPreviewTooLarge, picture;
    ComPtr<IWICBitmapSource> source = frame;
    if (w > width || h > height) {
        const double fit =
            std::min(static_cast<double>(width) / w, static_cast<double>(height) / h);
        w = std::max(1u, static_cast<UINT>(w * fit));
        h = std::max(1u, static_cast<UINT>(h * fit));
        ComPtr<IWICBitmapScaler> scaler;
        if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
            FAILED(scaler->Initialize(frame.Get(), w, h, WICBitmapInterpolationModeFant)))
            return picture;
        source = scaler;
    }
    ComPtr<IWICFormatConverter> converter;
    const UINT stride = w * 4;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * h);
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppRGBA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()),
                                     pixels.data())))
        return picture;
    return PreviewPicture{static_cast<int>(w), static_cast<int>(h), 4, std::move(pixels), {}};
}

} // namespace

struct Win32Panel::Job {
    std::function<void()> work;
    std::function<void()> done;
    std::thread thread;
};

Win32Panel::Win32Panel(CGlitchwerkDlg& logic, HWND dialog) : m_logic(logic), m_dialog(dialog) {
    const std::vector<WORD> panel = BuildPanelTemplate(DialogFontName(), kFontPoints);
    m_window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(panel.data()), dialog,
                                          PanelProc, reinterpret_cast<LPARAM>(this));
    // The dialog's controls come in the template's order.
    for (HWND control = GetWindow(m_window, GW_CHILD); control;
         control = GetWindow(control, GW_HWNDNEXT))
        m_controls.push_back(control);
    for (const PanelControl& control : kPanelControls) {
        if (control.kind == PanelControlKind::Edit)
            SendDlgItemMessageW(m_window, control.id, EM_SETLIMITTEXT, 0, 0);
    }
    const HWND parts = GetDlgItem(m_window, IDC_PARTS);
    ListView_SetExtendedListViewStyle(parts, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column{};
    ListView_InsertColumn(parts, 0, &column);
    RECT client;
    GetClientRect(m_window, &client);
    Layout(client.right);
    m_logic.AttachPanel(*this);
}

Win32Panel::~Win32Panel() {
    m_logic.DetachPanel();
    // Their `done` is dropped: what it would show is gone. Their messages, if
    // still queued, die with the window.
    for (const std::unique_ptr<Job>& job : m_jobs) {
        if (job->thread.joinable())
            job->thread.join();
    }
    m_jobs.clear();
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
        const WORD code = HIWORD(wParam);
        if (id == IDCANCEL) { // Esc, like the close box
            ShowWindow(window, SW_HIDE);
        } else if (id == IDOK) {
            // Enter in a field is that field's command.
            const int focused = GetDlgCtrlID(GetFocus());
            for (const int field : {IDC_SPREAD_N, IDC_SPREAD_K, IDC_TRY_NAME, IDC_RUN_AFTER}) {
                if (field == focused && IsChild(window, GetFocus()))
                    self->m_logic.OnPanelCommand(field);
            }
        } else if (id == IDC_HISTORY && code == LBN_DBLCLK) {
            self->m_logic.OnPanelCommand(IDC_USE_FORM);
        } else if (code == BN_CLICKED || (id == IDC_HISTORY && code == LBN_SELCHANGE) ||
                   ((id == IDC_RULE || id == IDC_CORE) && code == CBN_SELCHANGE)) {
            self->m_logic.OnPanelCommand(id);
        }
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change->hdr.idFrom != IDC_PARTS || change->hdr.code != LVN_ITEMCHANGED)
            return FALSE;
        self->OnPartChanged(*change);
        return TRUE;
    }
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return TRUE;
    case WM_DRAWITEM:
        if (wParam != IDC_PREVIEW)
            return FALSE;
        self->DrawPreview(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case kWorkDone:
        self->Finish(reinterpret_cast<Job*>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

void Win32Panel::Open() {
    if (IsWindowVisible(m_window))
        return;
    RECT dialog, panel, client;
    GetWindowRect(m_dialog, &dialog);
    GetWindowRect(m_window, &panel);
    GetClientRect(m_window, &client);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(m_dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int across = panel.right - panel.left - client.right;
    const int down = panel.bottom - panel.top - client.bottom;
    RECT natural{0, 0, kPanelWidth, kPanelHeight}, narrowest{0, 0, kPanelNarrowest, 0};
    MapDialogRect(m_window, &natural);
    MapDialogRect(m_window, &narrowest);
    const PairPlace place =
        PlacePair({work.left, work.top, work.right - work.left, work.bottom - work.top},
                  {dialog.right - dialog.left, dialog.bottom - dialog.top, natural.right + across,
                   natural.bottom + down, narrowest.right + across, kPanelGap});
    SetWindowPos(m_dialog, nullptr, place.dialog.x, place.dialog.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int width = std::clamp(place.panel.width - across, static_cast<int>(narrowest.right),
                                 static_cast<int>(natural.right));
    SetWindowPos(m_window, nullptr, place.panel.x, place.panel.y, width + across,
                 natural.bottom + down, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout(width);
    ShowWindow(m_window, SW_SHOWNOACTIVATE);
    m_logic.OnPanelShown();
}

void Win32Panel::Layout(int width) {
    RECT natural{0, 0, kPanelWidth, 0};
    MapDialogRect(m_window, &natural);
    const int shortfall = natural.right - width;
    for (std::size_t i = 0; i < m_controls.size() && i < std::size(kPanelControls); ++i) {
        const PanelControl& control = kPanelControls[i];
        if (!control.give)
            continue;
        RECT place{control.x, control.y, control.x + control.width, control.y + control.height};
        MapDialogRect(m_window, &place);
        SetWindowPos(m_controls[i], nullptr, place.left, place.top,
                     place.right - place.left - shortfall, place.bottom - place.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ListView_SetColumnWidth(GetDlgItem(m_window, IDC_PARTS), 0, LVSCW_AUTOSIZE_USEHEADER);
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
    // An edit, as the status is, breaks lines only at "\r\n".
    std::wstring shown;
    for (const wchar_t c : Widen(text)) {
        if (c == L'\n' && (shown.empty() || shown.back() != L'\r'))
            shown += L'\r';
        shown += c;
    }
    SetDlgItemTextW(m_window, id, shown.c_str());
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

void Win32Panel::ShowHistory(const std::vector<HistoryRow>& rows, int selected) {
    const HWND list = GetDlgItem(m_window, IDC_HISTORY);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // The steps' column starts past the widest summary.
    const HDC context = GetDC(list);
    const HGDIOBJ old =
        SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const HistoryRow& row : rows) {
        const std::wstring summary = Widen(row.summary);
        SIZE size{};
        GetTextExtentPoint32W(context, summary.c_str(), static_cast<int>(summary.size()), &size);
        widest = std::max(widest, size.cx);
        const std::wstring text = summary + L"\t" + Widen(row.steps);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SelectObject(context, old);
    ReleaseDC(list, context);
    RECT units{0, 0, 4, 0};
    MapDialogRect(m_window, &units); // pixels in four dialog units across
    const int stop = static_cast<int>((widest + 12) * 4 / std::max(1L, units.right));
    SendMessageW(list, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stop));
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0); // -1: none
}

int Win32Panel::SelectedRow() const {
    const LRESULT row = SendDlgItemMessageW(m_window, IDC_HISTORY, LB_GETCURSEL, 0, 0);
    return row == LB_ERR ? -1 : static_cast<int>(row);
}

namespace {

// Another program may hold the clipboard for a moment.
bool OpenTheClipboard(HWND owner) {
    for (int tries = 0; tries < 10; ++tries, Sleep(20)) {
        if (OpenClipboard(owner))
            return true;
    }
    return false;
}

// The filter string of a file dialog: each type's name and pattern, ended by
// an empty one.
std::wstring Filter(const std::vector<FileType>& types) {
    std::wstring filter;
    for (const FileType& type : types)
        filter += Widen(type.name) + L'\0' + Widen(type.pattern) + L'\0';
    return filter + L'\0';
}

} // namespace

void Win32Panel::SetClipboardText(const std::string& text) {
    const std::wstring wide = Widen(text);
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory)
        return;
    std::memcpy(GlobalLock(memory), wide.c_str(), bytes);
    GlobalUnlock(memory);
    const bool open = OpenTheClipboard(m_window);
    if (open && EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory)) {
        CloseClipboard();
        return;
    }
    if (open)
        CloseClipboard();
    GlobalFree(memory);
}

std::optional<std::string> Win32Panel::ClipboardText() const {
    if (!OpenTheClipboard(m_window))
        return std::nullopt;
    std::optional<std::string> text;
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = Narrow(wide);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

std::optional<std::filesystem::path>
Win32Panel::AskForSaveName(const std::string& title, const std::filesystem::path& suggested,
                           const std::vector<FileType>& types) {
    std::wstring file(32768, L'\0'); // long paths too
    const std::wstring name = suggested.filename().wstring();
    std::copy(name.begin(),
              name.begin() + static_cast<std::ptrdiff_t>(std::min(name.size(), file.size() - 1)),
              file.begin());
    const std::wstring folder = suggested.parent_path().wstring();
    const std::wstring filter = Filter(types);
    const std::wstring caption = Widen(title);
    OPENFILENAMEW ask{};
    ask.lStructSize = sizeof ask;
    // Over the dialog, which it disables, and the panel with it.
    ask.hwndOwner = m_dialog;
    ask.lpstrFilter = filter.c_str();
    ask.nFilterIndex = 1;
    ask.lpstrFile = file.data();
    ask.nMaxFile = static_cast<DWORD>(file.size());
    ask.lpstrInitialDir = folder.c_str();
    ask.lpstrTitle = caption.c_str();
    // No question of its own about a file that exists: the logic asks.
    ask.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&ask))
        return std::nullopt;
    return std::filesystem::path(file.c_str());
}

std::optional<std::filesystem::path>
Win32Panel::AskForOpenName(const std::string& title, const std::filesystem::path& folder,
                           const std::vector<FileType>& types) {
    std::wstring file(32768, L'\0');
    const std::wstring start = folder.wstring();
    const std::wstring filter = Filter(types);
    const std::wstring caption = Widen(title);
    OPENFILENAMEW ask{};
    ask.lStructSize = sizeof ask;
    ask.hwndOwner = m_dialog;
    ask.lpstrFilter = filter.c_str();
    ask.nFilterIndex = 1;
    ask.lpstrFile = file.data();
    ask.nMaxFile = static_cast<DWORD>(file.size());
    ask.lpstrInitialDir = start.c_str();
    ask.lpstrTitle = caption.c_str();
    ask.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&ask))
        return std::nullopt;
    return std::filesystem::path(file.c_str());
}

std::filesystem::path Win32Panel::DataFolder() const {
    PWSTR folder = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)))
        path = std::filesystem::path(folder) / L"Glitchwerk";
    CoTaskMemFree(folder);
    return path;
}

void Win32Panel::ShowParts(const std::vector<std::string>& rows, const std::vector<bool>& kept) {
    const HWND list = GetDlgItem(m_window, IDC_PARTS);
    m_quiet = true;
    ListView_DeleteAllItems(list);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::wstring text = Widen(rows[i]);
        LVITEMW row{};
        row.mask = LVIF_TEXT;
        row.iItem = static_cast<int>(i);
        row.pszText = text.data();
        ListView_InsertItem(list, &row);
        ListView_SetCheckState(list, static_cast<int>(i), i < kept.size() && kept[i]);
    }
    m_quiet = false;
}

int Win32Panel::SelectedPart() const {
    return ListView_GetNextItem(GetDlgItem(m_window, IDC_PARTS), -1, LVNI_SELECTED);
}

bool Win32Panel::PartKept(int row) const {
    return row >= 0 && ListView_GetItemState(GetDlgItem(m_window, IDC_PARTS), row,
                                             LVIS_STATEIMAGEMASK) == kTicked;
}

// A box ticked or cleared selects its row, quietly: it is no choice of the part.
void Win32Panel::OnPartChanged(const NMLISTVIEW& change) {
    if (m_quiet || !(change.uChanged & LVIF_STATE) || change.iItem < 0)
        return;
    const UINT boxes = (change.uOldState ^ change.uNewState) & LVIS_STATEIMAGEMASK;
    if (boxes && (change.uOldState & LVIS_STATEIMAGEMASK)) {
        m_quiet = true;
        ListView_SetItemState(change.hdr.hwndFrom, change.iItem, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        m_quiet = false;
        m_logic.OnPanelCommand(IDC_PARTS_KEEP);
    } else if (change.uNewState & ~change.uOldState & LVIS_SELECTED) {
        m_logic.OnPanelCommand(IDC_PARTS);
    }
}

void Win32Panel::ShowChoices(int id, const std::vector<std::string>& items, int selected) {
    const HWND list = GetDlgItem(m_window, id);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0); // -1: none
}

int Win32Panel::SelectedChoice(int id) const {
    const LRESULT item = SendDlgItemMessageW(m_window, id, CB_GETCURSEL, 0, 0);
    return item == CB_ERR ? -1 : static_cast<int>(item);
}

ImageDecoder Win32Panel::PreviewDecoder() const {
    RECT room{};
    GetClientRect(GetDlgItem(m_window, IDC_PREVIEW), &room);
    const auto width = static_cast<UINT>(std::max(1L, room.right));
    const auto height = static_cast<UINT>(std::max(1L, room.bottom));
    return [width, height](std::span<const std::uint8_t> bytes) {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        std::optional<PreviewPicture> picture = DecodeImage(bytes, width, height);
        if (SUCCEEDED(com))
            CoUninitialize();
        return picture;
    };
}

void Win32Panel::ShowPreview(const PreviewPicture& picture) {
    m_previewWidth = picture.width;
    m_previewHeight = picture.height;
    m_tiles = picture.channels == 1;
    m_previewBits.resize(picture.pixels.size() / static_cast<std::size_t>(picture.channels) * 4);
    for (std::size_t i = 0, at = 0; i < m_previewBits.size(); i += 4, at += picture.channels) {
        const std::uint8_t* p = picture.pixels.data() + at;
        const int alpha = m_tiles ? 255 : p[3];
        for (int c = 0; c < 3; ++c) // blue, green, red, over white
            m_previewBits[i + c] = static_cast<std::uint8_t>(
                (p[m_tiles ? 0 : 2 - c] * alpha + 255 * (255 - alpha)) / 255);
    }
    const HWND preview = GetDlgItem(m_window, IDC_PREVIEW);
    SetWindowTextW(preview, m_previewBits.empty() ? Widen(picture.why).c_str() : L"");
    InvalidateRect(preview, nullptr, TRUE);
}

void Win32Panel::DrawPreview(const DRAWITEMSTRUCT& item) const {
    const RECT box = item.rcItem;
    const int boxWidth = box.right - box.left, boxHeight = box.bottom - box.top;
    FillRect(item.hDC, &box, GetSysColorBrush(COLOR_BTNFACE));
    if (!m_previewBits.empty()) {
        // Fitted; tiles grow only by whole times, their pixels square and sharp.
        double fit = std::min(static_cast<double>(boxWidth) / m_previewWidth,
                              static_cast<double>(boxHeight) / m_previewHeight);
        if (fit >= 1)
            fit = m_tiles ? std::floor(fit) : 1;
        const int width = std::max(1, static_cast<int>(m_previewWidth * fit));
        const int height = std::max(1, static_cast<int>(m_previewHeight * fit));
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER),
                          m_previewWidth,
                          -m_previewHeight,
                          1,
                          32,
                          BI_RGB,
                          0,
                          0,
                          0,
                          0,
                          0};
        SetStretchBltMode(item.hDC, COLORONCOLOR);
        StretchDIBits(item.hDC, box.left + (boxWidth - width) / 2,
                      box.top + (boxHeight - height) / 2, width, height, 0, 0, m_previewWidth,
                      m_previewHeight, m_previewBits.data(), &info, DIB_RGB_COLORS, SRCCOPY);
        return;
    }
    const std::wstring why = TextOf(item.hwndItem);
    const HGDIOBJ old =
        SelectObject(item.hDC, reinterpret_cast<HGDIOBJ>(SendMessageW(m_window, WM_GETFONT, 0, 0)));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
    constexpr UINT kFormat = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    RECT text = box;
    InflateRect(&text, -4, 0);
    RECT measured = text;
    DrawTextW(item.hDC, why.c_str(), -1, &measured, kFormat | DT_CALCRECT);
    text.top += std::max(0L, (boxHeight - (measured.bottom - measured.top)) / 2);
    DrawTextW(item.hDC, why.c_str(), -1, &text, kFormat);
    SelectObject(item.hDC, old);
}

void Win32Panel::RunInBackground(std::function<void()> work, std::function<void()> done) {
    Job* job = m_jobs.emplace_back(new Job{std::move(work), std::move(done), {}}).get();
    job->thread = std::thread([job, window = m_window] {
        try {
            job->work();
        } catch (...) {
            // No preview rather than no program.
        }
        PostMessageW(window, kWorkDone, 0, reinterpret_cast<LPARAM>(job));
    });
}

void Win32Panel::Finish(Job* job) {
    const auto owned =
        std::find_if(m_jobs.begin(), m_jobs.end(),
                     [job](const std::unique_ptr<Job>& each) { return each.get() == job; });
    if (owned == m_jobs.end())
        return;
    job->thread.join();
    const std::function<void()> done = std::move(job->done);
    m_jobs.erase(owned);
    done();
}

} // namespace glitchwerk
