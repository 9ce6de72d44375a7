// SPDX-License-Identifier: MIT
#pragma once
// A dialog view answered by the test instead of a window and a user: its
// controls are maps by identifier, its file dialog and message boxes answer
// from a script, and its work runs on a worker thread as a face's does.

#include "dialog/dialog_view.h"

#include <deque>
#include <map>
#include <thread>
#include <vector>

namespace glitchwerk::testing {

class ScriptedView final : public DialogView {
  public:
    std::map<int, std::string> texts; // the fields and the texts shown
    std::map<int, bool> checked, enabled;
    std::optional<std::filesystem::path> file; // the file dialog's answer; none cancels
    std::deque<Answer> answers;                // answers to the questions, in order
    std::vector<std::string> messages;         // every text shown, questions included
    std::function<void()> whileShown;          // runs while each message is up
    std::vector<std::string> progress;         // the titles of the work, in order
    bool ended = false;

    std::string FieldText(int id) const override { return Get(texts, id); }
    void ShowText(int id, const std::string& text) override { texts[id] = text; }
    bool IsChecked(int id) const override { return Get(checked, id); }
    void SetChecked(int id, bool on) override { checked[id] = on; }
    void SetEnabled(int id, bool on) override { enabled[id] = on; }
    std::optional<std::filesystem::path> AskForFile() override { return file; }
    void EndDialog() override { ended = true; }

    Answer ShowMessage(const std::string& text, MessageButtons buttons) override {
        messages.push_back(text);
        if (whileShown)
            whileShown();
        if (buttons == MessageButtons::Ok || answers.empty())
            return buttons == MessageButtons::Ok ? Answer::Ok : Answer::Cancel;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    void RunWithProgress(const std::string& title,
                         const std::function<void(const Progress&)>& work) override {
        progress.push_back(title);
        std::thread([&] { work([](std::uint64_t, std::uint64_t) {}); }).join();
    }

  private:
    template <typename Map> static typename Map::mapped_type Get(const Map& map, int id) {
        const auto found = map.find(id);
        return found == map.end() ? typename Map::mapped_type{} : found->second;
    }
};

} // namespace glitchwerk::testing
