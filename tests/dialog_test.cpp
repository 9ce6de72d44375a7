// SPDX-License-Identifier: MIT
// The Qt window: its widgets and layout, what a screen reader hears, its keys,
// its real prompts, and its work on a worker thread. The logic's tests say the rest.
#include "app/qt_dialog_view.h"
#include "app/qt_panel_view.h"
#include "dialog/messages.h"
#include "dialog/resource.h"
#include "tests/temp_dir.h"

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace glitchwerk {
namespace {

using namespace testing; // the temporary folder
using Texts = std::vector<std::string>;

QString Caption(const QWidget* control) {
    return control->property(qobject_cast<const QGroupBox*>(control) ? "title" : "text").toString();
}

// Both inside one frame, or not overlapping at all.
bool Apart(const QWidget* a, const QWidget* b) {
    const auto framed = [](const QWidget* frame, const QWidget* inner) {
        return qobject_cast<const QGroupBox*>(frame) &&
               frame->geometry().contains(inner->geometry());
    };
    return framed(a, b) || framed(b, a) || !a->geometry().intersects(b->geometry());
}

// The window up without a file, its message boxes answered by the test.
struct Window final : QtDialogView {
    std::vector<Answer> answers; // to the questions, the last first
    Texts messages;

    Window() {
        show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(this));
    }
    Answer ShowMessage(const std::string& text, MessageButtons buttons) override {
        messages.push_back(text);
        if (buttons == MessageButtons::Ok || answers.empty())
            return buttons == MessageButtons::Ok ? Answer::Ok : Answer::Cancel;
        const Answer answer = answers.back();
        return answers.pop_back(), answer;
    }
    template <typename T = QWidget> T* Find(const char* name) { return findChild<T*>(name); }
    // A real click at the control's place, so that whatever lies on top gets it.
    void Click(const char* name) {
        QTest::mouseClick(windowHandle(), Qt::LeftButton, {}, Find(name)->geometry().center());
    }
};

TEST(QtDialog, EveryControlSitsInItsPlaceWithItsCaption) {
    Window dialog;
    dialog.Logic().SetSearchMode(SearchMode::SearchSpecificByte);

    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const QWidget* control = controls[i];
        SCOPED_TRACE((control->objectName() + "=" + Caption(control)).toStdString());
        EXPECT_TRUE(dialog.rect().contains(control->geometry()));
        // Nothing clips: an edit's line, a button, a radio mark with its caption.
        QSize needed = control->fontMetrics().size(0, Caption(control));
        if (qobject_cast<const QLineEdit*>(control) || qobject_cast<const QPushButton*>(control))
            needed = control->minimumSizeHint();
        if (qobject_cast<const QRadioButton*>(control))
            needed.setWidth(control->sizeHint().width());
        EXPECT_LE(needed.width(), control->width());
        EXPECT_LE(needed.height(), control->height());
        for (qsizetype j = 0; j < i; ++j)
            EXPECT_TRUE(Apart(control, controls[j])) << controls[j]->objectName().toStdString();
    }

    QStringList tabOrder;
    for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            tabOrder << w->objectName();
    }
    EXPECT_EQ(tabOrder.join(' '),
              "IDC_RANGE_START IDC_RANGE_END IDC_SEARCH_VALUE IDC_SEARCH_LOW IDC_SEARCH_HIGH "
              "IDC_REPLACE_VALUE IDC_STEP_VALUE IDC_RECORRUPT IDC_CORRUPT IDC_RESTORE IDCANCEL");

    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_TRUE(QFontInfo(dialog.font()).fixedPitch());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    // Centred on the screen, where it fits (a small screen at a large scale).
    const QRect screen = dialog.screen()->availableGeometry();
    const QPoint offCentre = dialog.frameGeometry().center() - screen.center();
    const bool fits = screen.size().expandedTo(dialog.frameSize()) == screen.size();
    EXPECT_LE(fits ? offCentre.manhattanLength() : 0, 2);

    // What a screen reader hears: radio buttons as radio buttons, and a name
    // for every field and result.
    const std::tuple<const char*, QAccessible::Role, const char*> heard[] = {
        {"IDC_SEARCH_RANGE", QAccessible::RadioButton, "Range of Bytes:"},
        {"IDC_SEARCH_HIGH", QAccessible::EditableText, "Search For: Range of Bytes, to"},
        {"IDC_TOTAL_BYTES", QAccessible::StaticText, "Total bytes"},
    };
    for (const auto& [name, role, text] : heard) {
        SCOPED_TRACE(name);
        auto* control = QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>(name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->role(), role);
        EXPECT_EQ(control->text(QAccessible::Name), text);
    }
    // The arrow keys on a radio button move the focus on, as from a button
    // alone, and check nothing.
    auto* specific = dialog.findChild<QRadioButton*>("IDC_SEARCH_SPECIFIC");
    for (const auto& [key, next] :
         {std::pair{Qt::Key_Down, "IDC_SEARCH_VALUE"}, {Qt::Key_Up, "IDC_RANGE_END"}}) {
        specific->setFocus();
        QTest::keyClick(specific, key);
        EXPECT_EQ(dialog.focusWidget()->objectName(), next);
    }
    EXPECT_TRUE(specific->isChecked());
}

TEST(QtDialog, ThePlayViewsKeysAreTheJoypad) {
    // The key, its X keysym (Right Shift's own), and the button.
    const std::tuple<int, quint32, std::uint16_t> keys[] = {
        {Qt::Key_Up, 0, play::kUp},
        {Qt::Key_Down, 0, play::kDown},
        {Qt::Key_Left, 0, play::kLeft},
        {Qt::Key_Right, 0, play::kRight},
        {Qt::Key_Z, 0, play::kB},
        {Qt::Key_X, 0, play::kA},
        {Qt::Key_Return, 0, play::kStart},
        {Qt::Key_Enter, 0, play::kStart},
        {Qt::Key_Shift, 0xFFE2, play::kSelect},
        {Qt::Key_Shift, 0xFFE1, 0},
        {Qt::Key_A, 0, 0},
    };
    for (const auto& [key, keysym, button] : keys) {
        const QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, 0, keysym, 0);
        EXPECT_EQ(JoypadButton(event), button) << key << " " << keysym;
    }
}

TEST(QtDialog, ClicksKeysAndTextsReachTheLogic) {
    Window run;
    run.Click("IDC_SEARCH_ALL"); // through the frame above it
    EXPECT_TRUE(run.Find<QRadioButton>("IDC_SEARCH_ALL")->isChecked());
    // Enter runs Re-Corrupt, whose restore fails without a file; Esc, the close box and Exit
    // reach the exit prompt.
    run.answers = {Answer::Cancel, Answer::Cancel, Answer::Cancel};
    QTest::keyClick(run.Find("IDC_RANGE_END"), Qt::Key_Return);
    QTest::keyClick(run.Find("IDC_RANGE_START"), Qt::Key_Escape);
    run.close();
    run.Click("IDCANCEL");
    EXPECT_EQ(run.messages, (Texts{messages::kRestoreFailed, messages::kExitQuestion,
                                   messages::kExitQuestion, messages::kExitQuestion}));
    EXPECT_TRUE(run.isVisible());

    run.ShowText(IDC_FILE_PATH, "a&b <i>.nes"); // never markup, never a shortcut
    EXPECT_EQ(run.Find<QLabel>("IDC_FILE_PATH")->text(), "a&b <i>.nes");
    run.ShowText(IDC_TOTAL_BYTES, "4"); // a screen reader hears the value
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(run.Find("IDC_TOTAL_BYTES"))->text(QAccessible::Name),
        "Total bytes: 4");
}

TEST(QtDialog, WorkKeepsEveryInputFromTheWindowAndShowsItsProgressAfterHalfASecond) {
    Window run;
    run.Panel().Open(); // a window of its own, kept from input too
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&run.Panel()));
    auto* nth = run.Panel().findChildren<QRadioButton*>().at(1);
    std::atomic<bool> looked = false;
    QWidget* early = nullptr;
    QTimer::singleShot(100, [&] {
        early = QApplication::activeModalWidget();
        QTest::mouseClick(nth, Qt::LeftButton);
        run.Click("IDC_SEARCH_ALL");
        QTest::keyClicks(run.Find("IDC_RANGE_START"), "12");
        QTest::keyClick(run.Find("IDC_RANGE_START"), Qt::Key_Escape);
        run.close();
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
    run.RunWithProgress("Working", [&](const Progress&) { // and never reporting
        while (!looked)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    EXPECT_EQ(early, nullptr);
    EXPECT_EQ(label, "Working\n0 of 0 MiB");
    EXPECT_FALSE(run.Find<QRadioButton>("IDC_SEARCH_ALL")->isChecked());
    EXPECT_FALSE(run.Panel().IsChecked(IDC_SPREAD_NTH));
    EXPECT_EQ(run.Find<QLineEdit>("IDC_RANGE_START")->text(), "");
    EXPECT_EQ(run.messages, Texts{});
    EXPECT_TRUE(run.isVisible());
}

// The modal window that is up, when it is a T. Any other is closed, so that a
// test that fails here leaves no window waiting for an answer.
template <typename T> T* ModalOrClose() {
    QWidget* modal = QApplication::activeModalWidget();
    auto* found = qobject_cast<T*>(modal);
    if (!found && modal)
        modal->close();
    return found;
}

// The real message boxes and file dialog, answered from the keyboard.
TEST(QtDialog, MessageBoxesAndTheFileDialogAnswerAsExpected) {
    const std::tuple<MessageButtons, Qt::Key, Answer> cases[] = {
        {MessageButtons::Ok, Qt::Key_Return, Answer::Ok},
        {MessageButtons::YesNoCancel, Qt::Key_Return, Answer::Yes},
        {MessageButtons::YesNoCancel, Qt::Key_Escape, Answer::Cancel},
    };
    const std::string text = "Line one\n<b>two</b> &three";
    QtDialogView prompts; // not shown: its boxes are centred on the screen
    for (const auto& [buttons, key, answer] : cases) {
        SCOPED_TRACE(static_cast<int>(answer));
        const bool question = buttons == MessageButtons::YesNoCancel;
        QTimer::singleShot(0, [&, key = key] {
            auto* box = ModalOrClose<QMessageBox>();
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_EQ(box->text().toStdString(), text);
            EXPECT_EQ(box->icon(), question ? QMessageBox::Question : QMessageBox::NoIcon);
            EXPECT_EQ(box->standardButtons(),
                      question ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                               : QMessageBox::Ok);
            QTest::keyClick(box, key);
        });
        EXPECT_EQ(prompts.ShowMessage(text, buttons), answer);
    }

    // A typed name of a file that does not exist is accepted; Esc cancels.
    TempDir dir;
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer::singleShot(0, [&] {
            auto* files = ModalOrClose<QFileDialog>();
            ASSERT_NE(files, nullptr);
            EXPECT_EQ(files->nameFilters(),
                      (QStringList{"NES ROM files (*.nes)", "All Files (*)"}));
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            if (!name)
                files->reject();
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString((dir / "new.nes").string()));
            QTest::keyClick(name, key);
        });
        const auto chosen = prompts.AskForFile();
        EXPECT_EQ(chosen, key == Qt::Key_Return ? std::optional(dir / "new.nes") : std::nullopt);
    }
}

TEST(QtDialog, ThePanelOpensBesideTheDialogOnTheScreenClosesAndOpensAgainWithF2) {
    Window dialog;
    const QSize size = dialog.size();
    QtPanelView& panel = dialog.Panel();
    EXPECT_FALSE(panel.IsOpen());
    for (const bool byKey : {false, true}) {
        SCOPED_TRACE(byKey);
        if (byKey) {
            dialog.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
            QTest::keyClick(&dialog, Qt::Key_F2);
        } else
            panel.Open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        EXPECT_TRUE(panel.IsOpen());
        const QRect work = dialog.screen()->availableGeometry();
        EXPECT_TRUE(work.contains(dialog.frameGeometry()));
        EXPECT_TRUE(work.contains(panel.frameGeometry()));
        EXPECT_FALSE(panel.frameGeometry().intersects(dialog.frameGeometry()));
        for (const QWidget* control : panel.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(panel.rect().contains(control->geometry()));
        const QString status = "The history was set aside in " + QString(200, 'd') + "/h.jsonl";
        panel.ShowText(IDC_PANEL_STATUS, status.toStdString());
        int shown = 0; // longer than its place: all of it in the tooltip
        for (const QLabel* label : panel.findChildren<QLabel*>())
            shown += label->text() == status && label->toolTip() == status;
        EXPECT_EQ(shown, 1);
        EXPECT_TRUE(panel.close());
        EXPECT_FALSE(panel.IsOpen());
        EXPECT_EQ(dialog.size(), size);
    }
}

// A tick in the parts list, by mouse or key, is no choice of the part: only a
// click on a part fills the range.
TEST(QtDialog, ATickInThePartsListKeepsThePartAndFillsNoRange) {
    TempDir dir(true);
    Bytes rom = {'N', 'E', 'S', 0x1A, 1, 1};
    rom.resize(0x6010);
    WriteFile(dir / "game.nes", rom);
    Window dialog;
    dialog.Logic().OpenAtStart(dir / "game.nes");
    ASSERT_TRUE(dialog.Logic().OnInitDialog());
    QtPanelView& panel = dialog.Panel();
    panel.Open();
    auto* parts = panel.findChild<QListWidget*>();
    QStyleOptionViewItem option; // where the style draws the last row's box
    option.initFrom(parts);
    option.rect = parts->visualItemRect(parts->item(2));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    const QRect box =
        parts->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option);
    QTest::mouseClick(parts->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(panel.SelectedPart(), 2);
    parts->setCurrentRow(0), QTest::keyClick(parts, Qt::Key_Space);
    EXPECT_EQ(dialog.Find<QLineEdit>("IDC_RANGE_START")->text(), "");
    QTest::mouseClick(parts->viewport(), Qt::LeftButton, {},
                      parts->visualItemRect(parts->item(1)).center());
    EXPECT_EQ(dialog.Find<QLineEdit>("IDC_RANGE_START")->text(), "10");
    EXPECT_EQ((std::vector{panel.PartKept(0), panel.PartKept(1), panel.PartKept(2)}),
              (std::vector{true, false, true}));
    panel.ShowParts({"a", "b"}, {false, true});
    EXPECT_TRUE(!panel.PartKept(0) && panel.PartKept(1));
}

} // namespace
} // namespace glitchwerk
