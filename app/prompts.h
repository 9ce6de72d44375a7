// SPDX-License-Identifier: MIT
#pragma once
// The program's questions to the user: which file to edit, and its message
// boxes. The dialog asks through this interface only, so that tests can answer
// in place of the user.

#include <QString>

#include <filesystem>
#include <optional>

class QWidget;

namespace glitchwerk {

enum class MessageButtons {
    Ok,          // a plain notice, no icon
    YesNoCancel, // a question; Yes is the default, Esc answers Cancel
};

enum class Answer { Ok, Yes, No, Cancel };

class Prompts {
  public:
    virtual ~Prompts() = default;

    // The full path of the file to edit, or nothing when the user cancels.
    // The name need not exist yet.
    virtual std::optional<std::filesystem::path> AskForFile(QWidget* owner) = 0;

    // Shows `text` (plain text; '\n' breaks the line) and waits for the answer.
    virtual Answer ShowMessage(QWidget* owner, const QString& text, MessageButtons buttons) = 0;
};

// Prompts shown with QFileDialog and QMessageBox.
class QtPrompts final : public Prompts {
  public:
    std::optional<std::filesystem::path> AskForFile(QWidget* owner) override;
    Answer ShowMessage(QWidget* owner, const QString& text, MessageButtons buttons) override;
};

} // namespace glitchwerk
