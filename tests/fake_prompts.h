// SPDX-License-Identifier: MIT
#pragma once
// Prompts answered by the test instead of the user.

#include "app/prompts.h"

#include <deque>
#include <functional>
#include <vector>

namespace glitchwerk::testing {

class FakePrompts final : public Prompts {
  public:
    std::optional<std::filesystem::path> file; // the file dialog's answer; none cancels
    std::deque<Answer> answers;                // answers to the questions, in order
    std::vector<QString> messages;             // every text shown, questions included
    std::function<void()> whileShown;          // runs while each message is up
    std::vector<QString> progress;             // every piece of long work, by name

    std::optional<std::filesystem::path> AskForFile(QWidget*) override { return file; }

    Answer ShowMessage(QWidget*, const QString& text, MessageButtons buttons) override {
        messages.push_back(text);
        if (whileShown)
            whileShown();
        if (buttons == MessageButtons::Ok || answers.empty())
            return buttons == MessageButtons::Ok ? Answer::Ok : Answer::Cancel;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    // The real progress dialog, shown at once.
    std::unique_ptr<ProgressView> ShowProgress(QWidget* owner, const QString& what) override {
        progress.push_back(what);
        return std::make_unique<QtProgress>(owner, what, 0);
    }
};

} // namespace glitchwerk::testing
