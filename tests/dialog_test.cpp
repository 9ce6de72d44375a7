// SPDX-License-Identifier: MIT
#include "app/glitchwerk_dlg.h"
#include "engine/backup_store.h"
#include "tests/fake_prompts.h"
#include "tests/temp_dir.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace glitchwerk {
namespace {

using namespace testing; // the temporary folder, file helpers and fake prompts
namespace fs = std::filesystem;
using Texts = std::vector<QString>;

const Bytes kOriginal = CountingBytes(0x300);
const QString kSuccess = "Corruption sucessful";
const QString kExitQuestion = "Restore file before exiting?";
const QString kRestoreFailed = "Error\nUnable to  restore file";

// One run of the dialog on a file of 0x300 counting bytes, in a fresh current directory.
struct Session {
    TempDir dir{true};
    const fs::path rom = dir / "game.nes";
    FakePrompts prompts;
    CGlitchwerkDlg dialog{prompts};

    Session() {
        WriteFile(rom, kOriginal);
        prompts.file = rom;
    }
    void Start() {
        ASSERT_TRUE(dialog.OnInitDialog());
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    template <typename T = QWidget> T* Find(const char* name) { return dialog.findChild<T*>(name); }
    // A real click at the control's place, so that whatever lies on top gets it.
    void Click(const std::string& name) {
        QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {},
                          Find(name.c_str())->geometry().center());
    }
    // "NAME" clicks IDC_NAME; "NAME=text" types the text into it.
    void Do(const std::string& step) {
        const auto equals = step.find('=');
        const std::string name = "IDC_" + step.substr(0, equals);
        if (equals == std::string::npos)
            Click(name);
        else
            Find<QLineEdit>(name.c_str())->setText(QString::fromStdString(step.substr(equals + 1)));
    }
    // The bytes of the file that the last message names at its end.
    Bytes Kept() {
        return ReadFile(prompts.messages.back().section(' ', -1).chopped(1).toStdString());
    }
    Texts Results() {
        return {Find<QLabel>("IDC_TOTAL_BYTES")->text(), Find<QLabel>("IDC_FIRST_BYTE")->text(),
                Find<QLabel>("IDC_LAST_BYTE")->text()};
    }
};

TEST(Dialog, StartUpFailuresEndTheRunBeforeTheWindowAppears) {
    const std::pair<std::function<std::optional<fs::path>(Session&)>, const char*> cases[] = {
        {[](Session&) { return std::nullopt; }, nullptr},
        {[](Session& r) { return fs::create_directory(kDataFileName), r.rom; },
         "Unable to create data file.\nApplication cannot continue."},
        {[](Session& r) { return r.dir / "typed.nes"; }, "Error opening file."},
        {[](Session& r) { return fs::create_symlink(r.rom, kDataFileName), r.rom; },
         "Glitchwerk.dat is not a plain file of your own.\nApplication cannot continue."},
    };
    for (const auto& [choose, message] : cases) {
        SCOPED_TRACE(message ? message : "cancelled");
        Session run;
        run.prompts.file = choose(run);

        EXPECT_EQ(run.dialog.DoModal(), QDialog::Rejected);
        EXPECT_EQ(run.dialog.windowHandle(), nullptr); // never shown
        EXPECT_EQ(run.prompts.messages, message ? Texts{message} : Texts{});
        EXPECT_EQ(fs::exists(kDataFileName), message != nullptr);
        EXPECT_EQ(ReadFile(run.rom), kOriginal);
    }
}

TEST(Dialog, StartUpShowsTheFileThenSelectorsKeepOneChoicePerGroup) {
    Session run;
    const fs::path odd = run.dir / "a&b <i>.nes"; // never markup, never a shortcut
    WriteFile(odd, kOriginal);
    run.prompts.file.reset();
    run.dialog.OpenAtStart(odd);         // as `glitchwerk FILE` does: no file dialog
    WriteFile(kDataFileName, {1, 2, 3}); // left by a run that was killed
    bool overTheWindow = false;
    run.prompts.whileShown = [&] { overTheWindow = run.dialog.isVisible(); };
    run.Start();
    EXPECT_EQ(run.Find<QLabel>("IDC_FILE_SIZE")->text(), "300");
    EXPECT_EQ(run.Find<QLabel>("IDC_FILE_PATH")->text(), QString::fromStdString(odd.string()));
    EXPECT_EQ(run.Results(), (Texts{"", "", ""}));
    EXPECT_EQ(run.dialog.focusWidget(), run.Find("IDC_RANGE_START"));
    EXPECT_EQ(ReadFile(kDataFileName), kOriginal);

    EXPECT_TRUE(run.prompts.messages.back().startsWith(
        "Glitchwerk.dat held the backup of a run that did not end normally.\nIt was kept as "));
    EXPECT_EQ(run.Kept(), (Bytes{1, 2, 3}));
    EXPECT_TRUE(overTheWindow);

    // Clicked button; then the checked buttons and the enabled fields.
    const char* steps[][3] = {
        {"", "SEARCH_SPECIFIC REPLACE_SPECIFIC", "SEARCH_VALUE REPLACE_VALUE"},
        {"SEARCH_RANGE", "SEARCH_RANGE REPLACE_SPECIFIC", "SEARCH_LOW SEARCH_HIGH REPLACE_VALUE"},
        {"REPLACE_DECREASE", "SEARCH_RANGE REPLACE_DECREASE", "SEARCH_LOW SEARCH_HIGH STEP_VALUE"},
        {"REPLACE_INCREASE", "SEARCH_RANGE REPLACE_INCREASE", "SEARCH_LOW SEARCH_HIGH STEP_VALUE"},
        {"REPLACE_INCREASE", "SEARCH_RANGE REPLACE_INCREASE", "SEARCH_LOW SEARCH_HIGH STEP_VALUE"},
        {"SEARCH_ALL", "SEARCH_ALL REPLACE_INCREASE", "STEP_VALUE"},
        {"REPLACE_RANDOM", "SEARCH_ALL REPLACE_RANDOM", ""},
        {"SEARCH_SPECIFIC", "SEARCH_SPECIFIC REPLACE_RANDOM", "SEARCH_VALUE"},
    };
    for (const auto& [click, checked, enabled] : steps) {
        SCOPED_TRACE(click);
        if (*click)
            run.Do(click);
        QStringList actualChecked, actualEnabled;
        for (const QWidget* control : run.dialog.findChildren<QWidget*>()) {
            const QString name = control->objectName().mid(4);
            if (auto* radio = qobject_cast<const QAbstractButton*>(control);
                radio && radio->isChecked())
                actualChecked << name;
            if (qobject_cast<const QLineEdit*>(control) && !name.startsWith("RANGE") &&
                control->isEnabled())
                actualEnabled << name;
        }
        EXPECT_EQ(actualChecked.join(' '), checked);
        EXPECT_EQ(actualEnabled.join(' '), enabled);
    }
}

TEST(Dialog, CorruptReadsTheFormAndShowsItsResultsBeforeItsMessage) {
    // The steps, the results shown, and the bytes [from, to) that become `value`.
    const std::tuple<std::vector<std::string>, Texts, int, int, int> cases[] = {
        // clang-format off
        {{}, {"0", "", ""}, 0, 0, 0},
        {{"SEARCH_ALL", "RANGE_START=0x100", "RANGE_END=" + std::string(40000, '0') + "FFFFFF",
          "REPLACE_VALUE=5A"}, // any length of text
         {"512", "100", "2FF"}, 0x100, 0x300, 0x5A},
        // 1FF reads as FF, FFFFFFFF as 00.
        {{"RANGE_END=100", "SEARCH_VALUE=1FF", "REPLACE_VALUE=FFFFFFFF"},
         {"1", "FF", "FF"}, 0xFF, 0x100, 0x00},
        {{"SEARCH_RANGE", "REPLACE_DECREASE", "RANGE_START=10", "RANGE_END=20",
          "SEARCH_LOW=18", "SEARCH_HIGH=1C", "STEP_VALUE=20"},
         {"4", "18", "1B"}, 0x18, 0x1C, 0x00},
        // clang-format on
    };
    for (const auto& [steps, results, from, to, value] : cases) {
        SCOPED_TRACE(results.front().toStdString());
        Session run;
        run.Start();
        for (const std::string& step : steps)
            run.Do(step);
        Texts shownWithMessage;
        run.prompts.whileShown = [&] { shownWithMessage = run.Results(); };
        run.Click("IDC_CORRUPT");

        EXPECT_EQ(run.prompts.messages, Texts{kSuccess});
        EXPECT_EQ(shownWithMessage, results);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(run.Find("IDC_TOTAL_BYTES"))
                      ->text(QAccessible::Name),
                  "Total bytes: " + results.front()); // a screen reader hears the value
        Bytes expected = kOriginal;
        std::fill(expected.begin() + from, expected.begin() + to, value);
        EXPECT_EQ(ReadFile(run.rom), expected);
        EXPECT_EQ(ReadFile(kDataFileName), kOriginal);
    }
}

// Corrupt compounds, Enter runs Re-Corrupt from the pristine file, Restore puts it back; then a
// file that cannot be written, opened or restored is reported, and No at exit keeps the originals
// the restores could not put back (where it cannot, the window stays).
TEST(Dialog, CommandsFromCorruptToExit) {
    Session run;
    run.Start();
    for (const char* step : {"SEARCH_ALL", "REPLACE_INCREASE", "RANGE_END=4", "STEP_VALUE=1"})
        run.Do(step);
    const auto plus = [](int step) {
        Bytes bytes = kOriginal;
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<std::uint8_t>(bytes[i] + step);
        return bytes;
    };
    OnAFullDisk(0, [&] { return run.Click("IDC_CORRUPT"), 0; });
    run.Click("IDC_CORRUPT");
    run.Click("IDC_CORRUPT");
    EXPECT_EQ(ReadFile(run.rom), plus(2));
    run.Click("IDC_RANGE_END"); // the focus leaves the clicked Corrupt button
    QTest::keyClick(run.Find("IDC_RANGE_END"), Qt::Key_Return);
    EXPECT_EQ(ReadFile(run.rom), plus(1));
    // Long work shows its progress (at once here); meanwhile nothing reaches
    // the window: no click on a command, no Esc, no close box.
    QTimer::singleShot(0, [&] {
        QWidget* progress = QApplication::activeModalWidget();
        ASSERT_NE(progress, nullptr);
        run.Click("IDC_CORRUPT");
        run.Click("IDCANCEL");
        QTest::keyClick(progress, Qt::Key_Escape);
        progress->close();
        EXPECT_TRUE(progress->isVisible());
    });
    run.Click("IDC_RESTORE");
    EXPECT_EQ(ReadFile(run.rom), kOriginal);
    EXPECT_EQ(run.prompts.progress.back(), "Restoring the file");

    fs::remove(run.rom);
    fs::create_directory(run.rom); // neither updated nor rewritten from now on
    run.Click("IDC_RECORRUPT");    // stops at the failed restore
    EXPECT_EQ(run.Results(), (Texts{"0", "", ""}));
    run.Click("IDC_CORRUPT");
    run.Click("IDC_RESTORE");
    run.prompts.answers = {Answer::Yes};
    run.Click("IDCANCEL");
    EXPECT_EQ(run.prompts.messages,
              (Texts{"Error writing file:\nCorruption incomplete. Restore puts the original back.",
                     kSuccess, kSuccess, kSuccess, "File Restore Sucessfully", kRestoreFailed,
                     "Error opening file:\nCorruption failed", kRestoreFailed, kExitQuestion,
                     "Error\nCould not restore file."}));
    EXPECT_TRUE(run.dialog.isVisible());
    EXPECT_EQ(ReadFile(kDataFileName), kOriginal);

    fs::rename(kDataFileName, "moved.dat");
    run.prompts.answers = {Answer::No};
    OnAFullDisk(0, [&] { return run.Click("IDCANCEL"), 0; });
    EXPECT_TRUE(run.prompts.messages.back().startsWith(
        "The last restore failed and the original bytes could not be kept."));
    fs::rename("moved.dat", kDataFileName);
    run.prompts.answers = {Answer::No};
    run.Click("IDCANCEL");
    EXPECT_FALSE(run.dialog.isVisible());
    EXPECT_TRUE(run.prompts.messages.back().startsWith(
        "The last restore failed.\nThe original bytes are kept in "));
    EXPECT_EQ(run.Kept(), kOriginal);
    EXPECT_TRUE(ReadFile(kDataFileName).empty());
}

TEST(Dialog, ExitButtonEscAndCloseBoxAskBeforeEnding) {
    const std::pair<std::function<void(Session&)>, Answer> cases[] = {
        {[](Session& r) { r.Click("IDCANCEL"); }, Answer::Cancel},
        {[](Session& r) { QTest::keyClick(r.Find("IDC_RANGE_START"), Qt::Key_Escape); },
         Answer::No},
        {[](Session& r) { r.dialog.close(); }, Answer::Yes},
    };
    for (const auto& [exit, answer] : cases) {
        SCOPED_TRACE(static_cast<int>(answer));
        Session run;
        run.Start();
        WriteFile(run.rom, {0xEE}); // as a corruption would leave it
        run.prompts.answers = {answer};

        exit(run);
        EXPECT_EQ(run.prompts.messages, Texts{kExitQuestion});
        EXPECT_EQ(run.dialog.isVisible(), answer == Answer::Cancel);
        EXPECT_EQ(ReadFile(run.rom), answer == Answer::Yes ? kOriginal : Bytes{0xEE});
        EXPECT_EQ(ReadFile(kDataFileName).empty(), answer != Answer::Cancel);
    }
}

} // namespace
} // namespace glitchwerk
