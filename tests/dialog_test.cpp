#include "backup_store.h"
#include "fake_prompts.h"
#include "glitchwerk_dlg.h"
#include "temp_dir.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace glitchwerk {
namespace {

using testing::Bytes;
using testing::CountingBytes;
using testing::FakePrompts;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

const QString kSuccess = "Corruption sucessful";
const QString kExitQuestion = "Restore file before exiting?";
const QString kRestoreFailed = "Error\nUnable to  restore file";

struct ShowCounter : QObject {
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        shows += event->type() == QEvent::Show;
        return false;
    }
};

// A dialog on a file of 0x300 counting bytes in a fresh current directory.
class DialogTest : public ::testing::Test {
  protected:
    TempDir dir{true};
    const fs::path rom = dir / "game.nes";
    const Bytes original = CountingBytes(0x300);
    FakePrompts prompts;
    CGlitchwerkDlg dialog{prompts};

    void Start() {
        WriteFile(rom, original);
        prompts.file = rom;
        ASSERT_TRUE(dialog.OnInitDialog());
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    template <typename T = QWidget> T* Find(const QString& name) {
        auto* widget = dialog.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    QString Text(const char* name) { return Find<QLabel>(name)->text(); }
    void Type(const char* name, const char* text) { Find<QLineEdit>(name)->setText(text); }
    // A real click at the control's place, so that whatever lies on top gets it.
    void Click(const char* name) {
        QWidget* control = Find(name);
        QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, control->geometry().center());
    }
    std::vector<QString> Results() {
        return {Text("IDC_TOTAL_BYTES"), Text("IDC_FIRST_BYTE"), Text("IDC_LAST_BYTE")};
    }
};

TEST_F(DialogTest, StartUpFailuresEndTheRunBeforeTheWindowAppears) {
    struct Case {
        const char* name;
        std::function<std::optional<fs::path>(const TempDir&)> prepare; // the chosen file
        const char* message;                                            // none for cancel
    };
    const Case cases[] = {
        {"cancelled", [](const TempDir&) { return std::nullopt; }, nullptr},
        {"data file not created",
         [](const TempDir& d) {
             fs::create_directory(kDataFileName);
             return d / "game.nes";
         },
         "Unable to create data file.\nApplication cannot continue."},
        {"file does not exist", [](const TempDir& d) { return d / "typed.nes"; },
         "Error opening file."},
        {"data file chosen",
         [](const TempDir& d) {
             WriteFile(d / kDataFileName, {});
             return d / kDataFileName;
         },
         "Glitchwerk.dat is the data file and cannot be edited.\nApplication cannot continue."},
        {"file too large",
         [](const TempDir& d) {
             fs::resize_file(d / "game.nes", 0x80000000); // sparse
             return d / "game.nes";
         },
         "File is too large (2 GB or more).\nApplication cannot continue."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir d(true);
        WriteFile(d / "game.nes", original);
        FakePrompts script;
        script.file = c.prepare(d);
        CGlitchwerkDlg failing(script);
        ShowCounter counter;
        failing.installEventFilter(&counter);

        EXPECT_EQ(failing.DoModal(), QDialog::Rejected);
        EXPECT_EQ(counter.shows, 0);
        EXPECT_EQ(script.messages,
                  c.message ? std::vector<QString>{c.message} : std::vector<QString>{});
        EXPECT_EQ(fs::exists(kDataFileName), c.message != nullptr);
        if (fs::file_size(d / "game.nes") == original.size()) {
            EXPECT_EQ(ReadFile(d / "game.nes"), original);
        }
    }
}

TEST_F(DialogTest, StartUpFailsWhileAnotherRunHoldsTheDataFile) {
    WriteFile(dir / "other.nes", {1, 2, 3});
    BackupStore other;
    ASSERT_EQ(CreateBackup(other, dir / "other.nes"), BackupResult::BackupCreated);
    WriteFile(rom, original);
    prompts.file = rom;

    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_EQ(prompts.messages, std::vector<QString>{"Data file is in use by another Glitchwerk "
                                                     "window.\nApplication cannot continue."});
    EXPECT_EQ(ReadFile(kDataFileName), (Bytes{1, 2, 3}));
}

TEST_F(DialogTest, ARunShowsTheFileAndEndsThroughTheExitPrompt) {
    const fs::path odd = dir / "a&b <i>.nes"; // never markup, never a shortcut
    WriteFile(odd, original);
    prompts.file = odd;
    prompts.answers = {Answer::No};
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(Text("IDC_FILE_SIZE"), "300");
        EXPECT_EQ(Text("IDC_FILE_PATH"), QString::fromStdString(odd.string()));
        EXPECT_EQ(Find<QLabel>("IDC_FILE_PATH")->textFormat(), Qt::PlainText);
        EXPECT_EQ(Results(), (std::vector<QString>{"", "", ""}));
        EXPECT_EQ(ReadFile(kDataFileName), original);
        dialog.reject();
    });
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_EQ(prompts.messages, std::vector<QString>{kExitQuestion});
    EXPECT_TRUE(ReadFile(kDataFileName).empty());
}

TEST_F(DialogTest, SelectorsKeepOneChoicePerGroupAndEnableOnlyItsFields) {
    struct Step {
        const char* click;
        std::vector<QString> checked;
        std::vector<QString> enabled;
    };
    const std::vector<Step> steps = {
        {nullptr,
         {"IDC_SEARCH_SPECIFIC", "IDC_REPLACE_SPECIFIC"},
         {"IDC_SEARCH_VALUE", "IDC_REPLACE_VALUE"}},
        {"IDC_SEARCH_RANGE",
         {"IDC_SEARCH_RANGE", "IDC_REPLACE_SPECIFIC"},
         {"IDC_SEARCH_LOW", "IDC_SEARCH_HIGH", "IDC_REPLACE_VALUE"}},
        {"IDC_REPLACE_DECREASE",
         {"IDC_SEARCH_RANGE", "IDC_REPLACE_DECREASE"},
         {"IDC_SEARCH_LOW", "IDC_SEARCH_HIGH", "IDC_STEP_VALUE"}},
        {"IDC_REPLACE_INCREASE",
         {"IDC_SEARCH_RANGE", "IDC_REPLACE_INCREASE"},
         {"IDC_SEARCH_LOW", "IDC_SEARCH_HIGH", "IDC_STEP_VALUE"}},
        {"IDC_REPLACE_INCREASE",
         {"IDC_SEARCH_RANGE", "IDC_REPLACE_INCREASE"},
         {"IDC_SEARCH_LOW", "IDC_SEARCH_HIGH", "IDC_STEP_VALUE"}},
        {"IDC_SEARCH_ALL", {"IDC_SEARCH_ALL", "IDC_REPLACE_INCREASE"}, {"IDC_STEP_VALUE"}},
        {"IDC_REPLACE_RANDOM", {"IDC_SEARCH_ALL", "IDC_REPLACE_RANDOM"}, {}},
        {"IDC_SEARCH_SPECIFIC",
         {"IDC_SEARCH_SPECIFIC", "IDC_REPLACE_RANDOM"},
         {"IDC_SEARCH_VALUE"}},
        {"IDC_REPLACE_SPECIFIC",
         {"IDC_SEARCH_SPECIFIC", "IDC_REPLACE_SPECIFIC"},
         {"IDC_SEARCH_VALUE", "IDC_REPLACE_VALUE"}},
    };
    Start();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.click ? step.click : "start-up");
        if (step.click)
            Click(step.click);
        std::vector<QString> checked, enabled;
        for (auto* radio :
             dialog.findChildren<QAbstractButton*>(QRegularExpression("_(SEARCH|REPLACE)_")))
            if (radio->isChecked())
                checked.push_back(radio->objectName());
        for (auto* edit :
             dialog.findChildren<QLineEdit*>(QRegularExpression("_(SEARCH|REPLACE|STEP)_")))
            if (edit->isEnabled())
                enabled.push_back(edit->objectName());
        EXPECT_EQ(checked, step.checked);
        EXPECT_EQ(enabled, step.enabled);
    }
}

TEST_F(DialogTest, CorruptReadsTheFormAndShowsItsResults) {
    using Form = std::map<const char*, const char*>;
    struct Case {
        const char* name;
        std::vector<const char*> clicks;
        Form form;
        std::vector<QString> results;
        std::function<int(int offset, int byte)> expected; // the byte at each offset afterwards
    };
    const Case cases[] = {
        {"empty form", {}, {}, {"0", "", ""}, [](int, int b) { return b; }},
        {"zero the whole file",
         {"IDC_SEARCH_ALL"},
         {{"IDC_RANGE_END", "300"}, {"IDC_REPLACE_VALUE", "00"}},
         {"768", "0", "2FF"},
         [](int, int) { return 0; }},
        {"end beyond the file",
         {"IDC_SEARCH_ALL"},
         {{"IDC_RANGE_START", "0x100"}, {"IDC_RANGE_END", "FFFFFF"}, {"IDC_REPLACE_VALUE", "5A"}},
         {"512", "100", "2FF"},
         [](int o, int b) { return o >= 0x100 ? 0x5A : b; }},
        {"byte fields clamp",
         {},
         {{"IDC_RANGE_END", "300"}, {"IDC_SEARCH_VALUE", "1FF"}, {"IDC_REPLACE_VALUE", "FFFFFFFF"}},
         {"3", "FF", "2FF"},
         [](int, int b) { return b == 0xFF ? 0 : b; }},
        {"range never hits its high bound",
         {"IDC_SEARCH_RANGE", "IDC_REPLACE_INCREASE"},
         {{"IDC_RANGE_END", "300"},
          {"IDC_SEARCH_LOW", "00"},
          {"IDC_SEARCH_HIGH", "FF"},
          {"IDC_STEP_VALUE", "1"}},
         {"765", "0", "2FE"},
         [](int, int b) { return b == 0xFF ? b : b + 1; }},
        {"decrease saturates",
         {"IDC_SEARCH_ALL", "IDC_REPLACE_DECREASE"},
         {{"IDC_RANGE_START", "10"}, {"IDC_RANGE_END", "20"}, {"IDC_STEP_VALUE", "18"}},
         {"16", "10", "1F"},
         [](int o, int b) { return o >= 0x10 && o < 0x20 ? std::max(b - 0x18, 0) : b; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir d(true);
        FakePrompts script;
        WriteFile(d / "game.nes", original);
        script.file = d / "game.nes";
        CGlitchwerkDlg run(script);
        ASSERT_TRUE(run.OnInitDialog());
        run.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&run));
        for (const char* name : c.clicks)
            QTest::mouseClick(run.windowHandle(), Qt::LeftButton, {},
                              run.findChild<QWidget*>(name)->geometry().center());
        for (const auto& [name, text] : c.form)
            run.findChild<QLineEdit*>(name)->setText(text);
        std::vector<QString> shownWithMessage;
        script.whileShown = [&] {
            for (const char* name : {"IDC_TOTAL_BYTES", "IDC_FIRST_BYTE", "IDC_LAST_BYTE"})
                shownWithMessage.push_back(run.findChild<QLabel*>(name)->text());
        };
        run.findChild<QAbstractButton*>("IDC_CORRUPT")->click();

        EXPECT_EQ(script.messages, std::vector<QString>{kSuccess});
        EXPECT_EQ(shownWithMessage, c.results);
        Bytes expected = original;
        for (int i = 0; i < static_cast<int>(expected.size()); ++i)
            expected[i] = static_cast<std::uint8_t>(c.expected(i, expected[i]));
        EXPECT_EQ(ReadFile(d / "game.nes"), expected);
        EXPECT_EQ(ReadFile(kDataFileName), original);
    }
}

TEST_F(DialogTest, CorruptCompoundsWhileEnterRunsReCorruptFromThePristineFile) {
    Start();
    Click("IDC_SEARCH_ALL");
    Click("IDC_REPLACE_INCREASE");
    Type("IDC_RANGE_END", "4");
    Type("IDC_STEP_VALUE", "1");
    Bytes plusOne = original, plusTwo = original;
    for (int i = 0; i < 4; ++i) {
        plusOne[i] += 1;
        plusTwo[i] += 2;
    }
    Click("IDC_CORRUPT");
    Click("IDC_CORRUPT");
    EXPECT_EQ(ReadFile(rom), plusTwo);

    Click("IDC_RANGE_END"); // the focus leaves the clicked Corrupt button
    QTest::keyClick(Find("IDC_RANGE_END"), Qt::Key_Return);
    EXPECT_EQ(ReadFile(rom), plusOne);
    EXPECT_EQ(prompts.messages, std::vector<QString>(3, kSuccess));
    EXPECT_EQ(Results(), (std::vector<QString>{"4", "0", "3"}));
}

TEST_F(DialogTest, RestorePutsThePristineBytesBackAndKeepsTheResults) {
    Start();
    Click("IDC_SEARCH_ALL");
    Type("IDC_RANGE_END", "10");
    Click("IDC_CORRUPT");
    Click("IDC_RESTORE");
    Click("IDC_RESTORE");
    EXPECT_EQ(ReadFile(rom), original);
    EXPECT_EQ(prompts.messages, (std::vector<QString>{kSuccess, "File Restore Sucessfully",
                                                      "File Restore Sucessfully"}));
    EXPECT_EQ(Results(), (std::vector<QString>{"16", "0", "F"}));
}

TEST_F(DialogTest, CommandsReportAFileThatCannotBeOpened) {
    Start();
    Click("IDC_SEARCH_ALL");
    Type("IDC_RANGE_END", "10");
    Click("IDC_CORRUPT");
    fs::remove(rom);
    fs::create_directory(rom); // neither updated nor rewritten from now on
    prompts.messages.clear();

    Click("IDC_CORRUPT");
    EXPECT_EQ(Results(), (std::vector<QString>{"0", "", ""}));
    Click("IDC_RESTORE");
    Click("IDC_RECORRUPT"); // stops at the failed restore
    prompts.answers = {Answer::Yes};
    Click("IDCANCEL");
    EXPECT_EQ(prompts.messages, (std::vector<QString>{"Error opening file:\nCorruption failed",
                                                      kRestoreFailed, kRestoreFailed, kExitQuestion,
                                                      "Error\nCould not restore file."}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadFile(kDataFileName), original);

    fs::remove(rom);
    prompts.answers = {Answer::Yes};
    Click("IDCANCEL");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(ReadFile(rom), original);
    EXPECT_TRUE(ReadFile(kDataFileName).empty());
}

TEST_F(DialogTest, ExitButtonEscAndCloseBoxAskBeforeEnding) {
    struct Case {
        const char* name;
        std::function<void(CGlitchwerkDlg&)> exit;
        Answer answer;
        bool staysOpen;
        bool restored;
    };
    const Case cases[] = {
        {"Exit, Cancel",
         [](CGlitchwerkDlg& d) { d.findChild<QAbstractButton*>("IDCANCEL")->click(); },
         Answer::Cancel, true, false},
        {"Esc, No",
         [](CGlitchwerkDlg& d) {
             QTest::keyClick(d.findChild<QWidget*>("IDC_RANGE_START"), Qt::Key_Escape);
         },
         Answer::No, false, false},
        {"close box, Yes", [](CGlitchwerkDlg& d) { d.close(); }, Answer::Yes, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir d(true);
        FakePrompts script;
        WriteFile(d / "game.nes", original);
        script.file = d / "game.nes";
        CGlitchwerkDlg run(script);
        ASSERT_TRUE(run.OnInitDialog());
        run.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&run));
        WriteFile(d / "game.nes", {0xEE}); // as a corruption would leave it
        script.answers = {c.answer};

        c.exit(run);
        EXPECT_EQ(script.messages, std::vector<QString>{kExitQuestion});
        EXPECT_EQ(run.isVisible(), c.staysOpen);
        EXPECT_EQ(ReadFile(d / "game.nes"), c.restored ? original : Bytes{0xEE});
        EXPECT_EQ(ReadFile(kDataFileName).empty(), !c.staysOpen);
    }
}

} // namespace
} // namespace glitchwerk
