// SPDX-License-Identifier: MIT
#include "app/qt_dialog_view.h"
#include "dialog/messages.h"
#include "tests/temp_dir.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

namespace glitchwerk {
namespace {

using namespace testing; // the temporary folder and file helpers
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// The real window, its message boxes answered by the test.
class Window final : public QtDialogView {
  public:
    std::deque<Answer> answers;
    Texts messages;
    Answer ShowMessage(const std::string& text, MessageButtons buttons) override {
        messages.push_back(text);
        if (buttons == MessageButtons::Ok)
            return Answer::Ok;
        const Answer answer = answers.empty() ? Answer::Cancel : answers.front();
        answers.pop_front();
        return answer;
    }
};

// The window up on a file of 0x300 counting bytes, in a fresh current directory.
struct Session {
    TempDir dir{true};
    const fs::path rom = dir / "a&b <i>.nes"; // never markup, never a shortcut
    Window dialog;

    Session() {
        WriteFile(rom, CountingBytes(0x300));
        dialog.Logic().OpenAtStart(rom);
        EXPECT_TRUE(dialog.Start());
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    template <typename T = QWidget> T* Find(const char* name) { return dialog.findChild<T*>(name); }
    // A real click at the control's place, so that whatever lies on top gets it.
    void Click(const char* name) {
        QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {},
                          Find(name)->geometry().center());
    }
};

TEST(QtDialog, ClicksAndKeysReachTheLogic) {
    Session run;
    EXPECT_EQ(run.Find<QLabel>("IDC_FILE_PATH")->text(), QString::fromStdString(run.rom.string()));
    EXPECT_EQ(run.dialog.focusWidget(), run.Find("IDC_RANGE_START"));
    run.Click("IDC_SEARCH_ALL"); // through the frame above it
    run.Click("IDC_REPLACE_INCREASE");
    QTest::keyClicks(run.Find("IDC_RANGE_END"), "4");
    QTest::keyClicks(run.Find("IDC_STEP_VALUE"), "1");
    for (int i = 0; i < 2; ++i) // Enter runs Re-Corrupt: no compounding
        QTest::keyClick(run.Find("IDC_RANGE_END"), Qt::Key_Return);
    Bytes expected = CountingBytes(0x300);
    std::iota(expected.begin(), expected.begin() + 4, 1);
    EXPECT_EQ(ReadFile(run.rom), expected);
    EXPECT_EQ(run.dialog.messages, (Texts{messages::kCorrupted, messages::kCorrupted}));
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(run.Find("IDC_TOTAL_BYTES"))->text(QAccessible::Name),
        "Total bytes: 4"); // a screen reader hears the value

    // Esc, the close box and Exit reach the exit prompt; No ends the run.
    run.dialog.messages.clear();
    run.dialog.answers = {Answer::Cancel, Answer::Cancel, Answer::No};
    QTest::keyClick(run.Find("IDC_RANGE_START"), Qt::Key_Escape);
    run.dialog.close();
    EXPECT_TRUE(run.dialog.isVisible());
    run.Click("IDCANCEL");
    EXPECT_EQ(run.dialog.messages, Texts(3, messages::kExitQuestion));
    EXPECT_FALSE(run.dialog.isVisible());
}

TEST(QtDialog, WorkKeepsEveryInputFromTheWindowAndShowsItsProgressAfterHalfASecond) {
    Session run;
    std::atomic<bool> looked = false;
    QWidget* early = nullptr;
    QTimer::singleShot(100, [&] {
        early = QApplication::activeModalWidget();
        run.Click("IDC_SEARCH_ALL");
        QTest::keyClicks(run.Find("IDC_RANGE_START"), "12");
        QTest::keyClick(run.Find("IDC_RANGE_START"), Qt::Key_Escape);
        run.dialog.close();
    });
    QString label;
    QTimer::singleShot(700, [&] {
        auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        looked = true;
        ASSERT_NE(progress, nullptr);
        label = progress->labelText();
        QTest::keyClick(progress, Qt::Key_Escape);
        progress->close();
        EXPECT_TRUE(progress->isVisible());
    });
    run.dialog.RunWithProgress("Working", [&](const Progress&) { // and never reporting
        while (!looked)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    EXPECT_EQ(early, nullptr);
    EXPECT_EQ(label, "Working\n0 of 0 MiB");
    EXPECT_FALSE(run.Find<QAbstractButton>("IDC_SEARCH_ALL")->isChecked());
    EXPECT_EQ(run.Find<QLineEdit>("IDC_RANGE_START")->text(), "");
    EXPECT_EQ(run.dialog.messages, Texts{});
    EXPECT_TRUE(run.dialog.isVisible());
}

} // namespace
} // namespace glitchwerk
