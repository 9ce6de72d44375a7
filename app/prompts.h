// SPDX-License-Identifier: MIT
#pragma once
// The program's questions to the user: which file to edit, and its message
// boxes. The dialog asks through this interface only, so that tests can answer
// in place of the user.

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

class QProgressDialog;
class QWidget;

namespace glitchwerk {

enum class MessageButtons {
    Ok,          // a plain notice, no icon
    YesNoCancel, // a question; Yes is the default, Esc answers Cancel
};

enum class Answer { Ok, Yes, No, Cancel };

// The progress of long work that must not stop part-way (a half-done backup or
// restore is worse than a wait), for as long as the object lives.
class ProgressView {
  public:
    virtual ~ProgressView() = default;
    virtual void Update(std::uint64_t done, std::uint64_t total) = 0;
};

class Prompts {
  public:
    virtual ~Prompts() = default;

    // The full path of the file to edit, or nothing when the user cancels.
    // The name need not exist yet.
    virtual std::optional<std::filesystem::path> AskForFile(QWidget* owner) = 0;

    // Shows `text` (plain text; '\n' breaks the line) and waits for the answer.
    virtual Answer ShowMessage(QWidget* owner, const QString& text, MessageButtons buttons) = 0;

    // Progress of the work called `what`, shown once it has taken a while.
    virtual std::unique_ptr<ProgressView> ShowProgress(QWidget* owner, const QString& what) = 0;
};

// A progress dialog that appears once the work has taken `delayMs`, has no
// cancel button, ignores Esc and the close box, and keeps the window below it
// from any input while it is up.
class QtProgress final : public ProgressView {
  public:
    QtProgress(QWidget* owner, QString what, int delayMs);
    ~QtProgress() override;
    void Update(std::uint64_t done, std::uint64_t total) override;

  private:
    QWidget* m_owner;
    QString m_what;
    int m_delayMs;
    QElapsedTimer m_clock;
    std::unique_ptr<QProgressDialog> m_dialog;
};

// Prompts shown with QFileDialog and QMessageBox.
class QtPrompts final : public Prompts {
  public:
    std::optional<std::filesystem::path> AskForFile(QWidget* owner) override;
    Answer ShowMessage(QWidget* owner, const QString& text, MessageButtons buttons) override;
    std::unique_ptr<ProgressView> ShowProgress(QWidget* owner, const QString& what) override;
};

} // namespace glitchwerk
