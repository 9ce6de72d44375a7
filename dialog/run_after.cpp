// SPDX-License-Identifier: MIT
#include "dialog/run_after.h"

#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"

#include <string_view>
#include <utility>

namespace glitchwerk {
namespace {

// On Windows a backslash outside quotes is a path's, as in C:\Emu\emu.exe.
#ifdef _WIN32
constexpr bool kBackslashIsSeparator = true;
#else
constexpr bool kBackslashIsSeparator = false;
#endif

constexpr int kGraceMs = 2000;

} // namespace

std::vector<std::string> SplitCommand(const std::string& line, const std::string& file) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (c == '%' && (next == 'f' || next == '%')) {
            word += next == 'f' ? file : "%";
            inWord = true;
            ++i;
        } else if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '\\' && std::string_view("\"\\$`").find(next) != std::string_view::npos &&
                     next != '\0')
                word += line[++i];
            else
                word += c;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(std::exchange(word, {}));
            inWord = false;
        } else {
            inWord = true;
            if (c == '\'' || c == '"')
                quote = c;
            else if (c == '\\' && next != '\0' && !kBackslashIsSeparator)
                word += line[++i];
            else
                word += c;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

void CRunAfter::Start() {
    if (!m_context.IsOpen())
        return;
    const std::string line = m_context.view->FieldText(IDC_RUN_AFTER);
    const std::vector<std::string> args =
        SplitCommand(line, PathText(m_context.run.Backup().romPath));
    if (args.empty())
        return;
    Stop();
    std::string reason;
    if (StartProgram(args, m_program, reason) || line == m_failedCommand)
        return;
    m_failedCommand = line;
    m_context.Message(messages::CommandNotStarted(args.front(), reason));
}

void CRunAfter::Stop() {
    StopProgram(m_program, kGraceMs);
}

} // namespace glitchwerk
