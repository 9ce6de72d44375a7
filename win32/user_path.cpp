// SPDX-License-Identifier: MIT
#include "win32/user_path.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace glitchwerk {
namespace {

constexpr wchar_t kValue[] = L"Path";

struct Span {
    std::size_t begin, end;
};

// The entries, split at each ';' outside double quotes.
std::vector<Span> Entries(std::wstring_view list) {
    std::vector<Span> entries;
    bool quoted = false;
    std::size_t begin = 0;
    for (std::size_t at = 0; at < list.size(); ++at) {
        if (list[at] == L'"') {
            quoted = !quoted;
        } else if (list[at] == L';' && !quoted) {
            entries.push_back({begin, at});
            begin = at + 1;
        }
    }
    entries.push_back({begin, list.size()});
    return entries;
}

std::wstring_view Text(std::wstring_view list, Span entry) {
    return list.substr(entry.begin, entry.end - entry.begin);
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// An entry as the folder it names.
std::wstring FolderOf(std::wstring_view entry) {
    std::wstring name;
    for (const wchar_t c : entry) {
        if (c != L'"')
            name += c == L'/' ? L'\\' : c;
    }
    if (name.find(L'%') != std::wstring::npos) {
        const DWORD size = ExpandEnvironmentStringsW(name.c_str(), nullptr, 0);
        std::wstring expanded(size, L'\0');
        const DWORD made = ExpandEnvironmentStringsW(name.c_str(), expanded.data(), size);
        if (made != 0 && made <= size)
            name.assign(expanded.c_str());
    }
    while (name.size() > 1 && name.back() == L'\\')
        name.pop_back();
    return name;
}

std::wstring SystemText(LSTATUS code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring said = length ? std::wstring(text, length) : L"error " + std::to_wstring(code);
    LocalFree(text);
    while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' '))
        said.pop_back();
    return said;
}

class Key {
  public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (m_key)
            RegCloseKey(m_key);
    }
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

  private:
    HKEY m_key = nullptr;
};

struct Value {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring text;
};

// The whole value, however long: asked again when it grew in between.
LSTATUS Read(HKEY key, Value& value) {
    for (int tries = 0; tries < 8; ++tries) {
        DWORD size = static_cast<DWORD>(value.bytes.size());
        const LSTATUS status = RegQueryValueExW(key, kValue, nullptr, &value.type,
                                                size ? value.bytes.data() : nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && size > value.bytes.size())) {
            value.bytes.resize(size);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        value.exists = true;
        value.bytes.resize(size);
        value.text.resize(size / sizeof(wchar_t));
        std::memcpy(value.text.data(), value.bytes.data(), value.text.size() * sizeof(wchar_t));
        while (!value.text.empty() && value.text.back() == L'\0')
            value.text.pop_back();
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

// Why a value found is no list this can change, if it is none.
std::optional<std::wstring> Unfit(const Value& value) {
    if (!value.exists)
        return std::nullopt;
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        return L"it is not text (its registry type is " + std::to_wstring(value.type) + L").";
    if (value.bytes.size() % sizeof(wchar_t) != 0 || value.text.find(L'\0') != std::wstring::npos)
        return std::wstring(L"it is not a list of folders.");
    return std::nullopt;
}

PathResult Store(HKEY key, const Value& value, const std::wstring& text, std::wstring done) {
    // An emptied PATH goes: an empty one means no more than none.
    const LSTATUS status =
        text.empty() ? RegDeleteValueW(key, kValue)
                     : RegSetValueExW(key, kValue, 0, value.exists ? value.type : REG_EXPAND_SZ,
                                      reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        return {PathOutcome::Failed, L"Your PATH could not be changed: " + SystemText(status)};
    if (!SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                             reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 5000,
                             nullptr))
        done += L" Consoles open now see it after you sign in again.";
    return {PathOutcome::Changed, std::move(done)};
}

template <typename Change>
PathResult ChangeUserPath(const wchar_t* key, bool create, Change change) {
    Key opened;
    const REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE;
    LSTATUS status = create ? RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, access,
                                              nullptr, opened.Out(), nullptr)
                            : RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, access, opened.Out());
    if (!create && status == ERROR_FILE_NOT_FOUND)
        return {PathOutcome::Unchanged, L"The folder is not on your PATH."};
    Value value;
    if (status == ERROR_SUCCESS)
        status = Read(opened.Get(), value);
    if (status != ERROR_SUCCESS)
        return {PathOutcome::Failed, L"Your PATH could not be read: " + SystemText(status)};
    if (const std::optional<std::wstring> why = Unfit(value))
        return {PathOutcome::LeftAsItIs, L"Your PATH was left as it was: " + *why};
    return change(opened.Get(), value);
}

} // namespace

std::wstring PathEntry(std::wstring_view folder) {
    if (folder.find(L';') == std::wstring_view::npos)
        return std::wstring(folder);
    return L'"' + std::wstring(folder) + L'"';
}

std::optional<std::wstring> WithFolder(std::wstring_view list, std::wstring_view folder) {
    const std::wstring wanted = FolderOf(folder);
    for (const Span entry : Entries(list)) {
        if (SameName(FolderOf(Text(list, entry)), wanted))
            return std::nullopt;
    }
    std::wstring joined(list);
    if (!joined.empty() && joined.back() != L';')
        joined += L';';
    return joined + PathEntry(folder);
}

std::optional<std::wstring> WithoutFolder(std::wstring_view list, std::wstring_view folder) {
    const std::wstring entry = PathEntry(folder);
    const std::vector<Span> entries = Entries(list);
    for (std::size_t at = entries.size(); at-- > 0;) {
        const Span found = entries[at];
        if (!SameName(Text(list, found), entry))
            continue;
        std::wstring rest(list);
        if (at > 0) // with the ';' before it
            rest.erase(found.begin - 1, found.end - found.begin + 1);
        else // with the ';' after it, if any
            rest.erase(0, std::min(found.end + 1, rest.size()));
        return rest;
    }
    return std::nullopt;
}

PathResult AddToUserPath(std::wstring_view folder, const wchar_t* key) {
    return ChangeUserPath(key, true, [folder](HKEY opened, const Value& value) -> PathResult {
        const std::optional<std::wstring> joined = WithFolder(value.text, folder);
        if (!joined)
            return {PathOutcome::Unchanged, L"The folder is on your PATH already."};
        if (joined->size() > kMaxPathValue)
            return {PathOutcome::LeftAsItIs,
                    L"Your PATH was left as it was: with the folder it would be " +
                        std::to_wstring(joined->size()) + L" characters long, and Windows takes " +
                        std::to_wstring(kMaxPathValue) + L" at most."};
        return Store(opened, value, *joined, L"The folder was added to your PATH.");
    });
}

PathResult RemoveFromUserPath(std::wstring_view folder, const wchar_t* key) {
    return ChangeUserPath(key, false, [folder](HKEY opened, const Value& value) -> PathResult {
        const std::optional<std::wstring> rest = WithoutFolder(value.text, folder);
        if (!rest)
            return {PathOutcome::Unchanged, L"The folder is not on your PATH."};
        return Store(opened, value, *rest, L"The folder was taken off your PATH.");
    });
}

} // namespace glitchwerk
