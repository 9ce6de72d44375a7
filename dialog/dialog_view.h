// SPDX-License-Identifier: MIT
#pragma once
// What the dialog's logic asks of a face: its controls by identifier (from
// resource.h), the file dialog, message boxes and a progress view. Plain C++,
// so that the Qt face, the Windows face and the tests' scripted view each
// answer it in their own way. Texts are UTF-8; paths are paths.

#include "engine/file_stream.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace glitchwerk {

enum class MessageButtons {
    Ok,          // a plain notice, no icon
    YesNoCancel, // a question with the question-mark icon; Yes is the default, Esc answers Cancel
    YesNo,       // a question with the question-mark icon; No is the default and Esc's answer
};

enum class Answer { Ok, Yes, No, Cancel };

// A window's controls by identifier, as the dialog and the panel both ask
// them of their face.
class ControlsView {
  public:
    virtual ~ControlsView() = default;

    // The text of an entry field, one byte per typed character (a character
    // that has none becomes '?'), as the hexadecimal fields read it.
    virtual std::string FieldText(int id) const = 0;
    virtual void SetFieldText(int id, const std::string& text) = 0;
    // Shows `text` in a text control (the file, its size, a result), as plain
    // text: never markup, never a keyboard shortcut.
    virtual void ShowText(int id, const std::string& text) = 0;
    // Radio buttons and check boxes.
    virtual bool IsChecked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual void SetEnabled(int id, bool enabled) = 0;
};

class DialogView : public ControlsView {
  public:
    // The full path of the file to edit, or nothing when the user cancels.
    // The name need not exist yet.
    virtual std::optional<std::filesystem::path> AskForFile() = 0;

    // Shows `text` ('\n' breaks the line) in a modal box over the dialog, or
    // over the screen while the dialog is not up yet, and waits for the
    // answer. A box closed without a button answers Ok or Cancel.
    virtual Answer ShowMessage(const std::string& text, MessageButtons buttons) = 0;

    // Runs `work` on a worker thread and returns when it is over. Meanwhile
    // no input reaches the dialog, and from 500 ms on a modal progress view
    // titled `title` shows how far it has come (from the reports `work` gives
    // its Progress, which may come from the worker thread) and repaints until
    // the end, flush included. Nothing the user does stops the work.
    virtual void RunWithProgress(const std::string& title,
                                 const std::function<void(const Progress&)>& work) = 0;

    // Ends the dialog: the window closes and the run is over.
    virtual void EndDialog() = 0;
};

} // namespace glitchwerk
