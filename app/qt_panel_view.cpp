// SPDX-License-Identifier: MIT
#include "app/qt_panel_view.h"

#include "app/qt_path.h"
#include "dialog/glitchwerk_dlg.h"
#include "dialog/messages.h"
#include "dialog/placement.h"
#include "dialog/play_view.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace glitchwerk {
namespace {

// The running game, fitted and centred, its pixels square; or a line of text.
// The keys held while it has the focus are the joypad.
class PlayView : public QWidget {
  public:
    PlayView(QWidget* parent, std::function<void(std::uint16_t)> joypad)
        : QWidget(parent), m_joypad(std::move(joypad)) {
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void SetFrame(QImage frame) {
        m_frame = std::move(frame);
        update();
    }
    // A line instead of a game: the last frame goes.
    void SetState(const QString& text) {
        if (text == m_state)
            return;
        m_state = text;
        if (!text.isEmpty())
            m_frame = QImage();
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!m_frame.isNull()) {
            const QSize fitted = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
            const QRect place(
                QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
            painter.drawImage(place, m_frame);
        }
        if (!m_state.isEmpty()) {
            painter.setPen(Qt::white);
            painter.drawText(rect().adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
                             m_state);
        }
        if (hasFocus()) {
            painter.setPen(palette().color(QPalette::Highlight));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }
    void keyPressEvent(QKeyEvent* event) override { Key(event, true); }
    void keyReleaseEvent(QKeyEvent* event) override { Key(event, false); }
    void focusInEvent(QFocusEvent*) override { update(); }
    void focusOutEvent(QFocusEvent*) override {
        m_held = 0; // keys let go elsewhere are never told
        m_joypad(m_held);
        update();
    }
    void mousePressEvent(QMouseEvent*) override { setFocus(Qt::MouseFocusReason); }

  private:
    void Key(QKeyEvent* event, bool down) {
        const std::uint16_t button = JoypadButton(*event);
        if (!button)
            return down ? QWidget::keyPressEvent(event) : QWidget::keyReleaseEvent(event);
        if (event->isAutoRepeat())
            return;
        m_held = down ? m_held | button : m_held & ~button;
        m_joypad(m_held);
    }

    std::function<void(std::uint16_t)> m_joypad;
    std::uint16_t m_held = 0;
    QImage m_frame;
    QString m_state;
};

QWidget* CreateControl(const PanelControl& control, QWidget* parent, CGlitchwerkDlg& logic) {
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.kind) {
    case PanelControlKind::Frame:
        return new QGroupBox(caption, parent);
    case PanelControlKind::Radio:
        return new QRadioButton(caption, parent);
    case PanelControlKind::Edit:
        return new QLineEdit(parent);
    case PanelControlKind::Check:
        return new QCheckBox(caption, parent);
    case PanelControlKind::Button:
        return new QPushButton(caption, parent);
    case PanelControlKind::List: {
        if (control.id != IDC_HISTORY)
            return new QListWidget(parent);
        // Two columns, the steps cut short rather than scrolled to.
        auto* rows = new QTreeWidget(parent);
        rows->setColumnCount(2);
        rows->setHeaderHidden(true);
        rows->setRootIsDecorated(false);
        rows->setUniformRowHeights(true);
        rows->setIconSize(QSize(32, 30)); // a played try's thumbnail
        rows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        rows->setTextElideMode(Qt::ElideRight);
        rows->header()->setStretchLastSection(true);
        rows->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        return rows;
    }
    case PanelControlKind::Text: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case PanelControlKind::Combo:
        return new QComboBox(parent);
    case PanelControlKind::PartList:
        return new QListWidget(parent);
    case PanelControlKind::Play: {
        auto* view =
            new PlayView(parent, [&logic](std::uint16_t joypad) { logic.OnPlayKeys(joypad); });
        view->hide(); // in the preview's place while a game plays
        return view;
    }
    case PanelControlKind::Picture: {
        auto* area = new QScrollArea(parent);
        auto* label = new QLabel(area);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        area->setWidget(label);
        area->setWidgetResizable(true);
        area->setAlignment(Qt::AlignCenter);
        return area;
    }
    }
    return nullptr;
}

} // namespace

std::uint16_t JoypadButton(const QKeyEvent& key) {
    // Right Shift by its X keysym, or by its scan code on Windows.
    constexpr quint32 kShiftRightKeysym = 0xFFE2, kShiftRightScanCode = 0x36;
    switch (key.key()) {
    case Qt::Key_Up:
        return play::kUp;
    case Qt::Key_Down:
        return play::kDown;
    case Qt::Key_Left:
        return play::kLeft;
    case Qt::Key_Right:
        return play::kRight;
    case Qt::Key_Z:
        return play::kB;
    case Qt::Key_X:
        return play::kA;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return play::kStart;
    case Qt::Key_Shift:
        return key.nativeVirtualKey() == kShiftRightKeysym ||
                       key.nativeScanCode() == kShiftRightScanCode
                   ? play::kSelect
                   : 0;
    default:
        return 0;
    }
}

ImageDecoder QtImageDecoder(int width, int height) {
    return [width, height](std::span<const std::uint8_t> bytes) -> std::optional<PreviewPicture> {
        QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        if (!reader.canRead())
            return std::nullopt;
        PreviewPicture picture;
        // A damaged header can claim any size: it is looked at before any pixel is.
        const QSize claimed = reader.size();
        if (claimed.isValid()) {
            if (static_cast<std::uint64_t>(claimed.width()) * claimed.height() > kMostPreviewPixels)
                return picture.why = messages::kPreviewTooLarge, picture;
            if (claimed.width() > width || claimed.height() > height)
                reader.setScaledSize(claimed.scaled(width, height, Qt::KeepAspectRatio));
        }
        QImage image = reader.read();
        if (image.isNull()) {
            picture.why = reader.errorString().simplified().toStdString();
            return picture;
        }
        if (image.width() > width || image.height() > height)
            image = image.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        image.convertTo(QImage::Format_RGBA8888);
        picture.width = image.width();
        picture.height = image.height();
        picture.channels = 4;
        const auto row = static_cast<std::size_t>(picture.width) * 4;
        picture.pixels.resize(row * static_cast<std::size_t>(picture.height));
        for (int y = 0; y < picture.height; ++y)
            std::memcpy(picture.pixels.data() + row * static_cast<std::size_t>(y),
                        image.constScanLine(y), row);
        return picture;
    };
}

QtPanelView::QtPanelView(CGlitchwerkDlg& logic, QWidget* dialog)
    : QWidget(nullptr, Qt::Tool), m_logic(logic), m_dialog(dialog) {
    setObjectName("IDD_GLITCHWERK_PANEL");
    setWindowTitle(kPanelCaption);
    setFont(dialog->font());
    const QFontMetricsF metrics(font());
    const double baseX = std::ceil(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52);
    const double baseY = std::ceil(metrics.height());
    const auto map = [&](int x, int y, int w, int h) {
        return QRect(static_cast<int>(x * baseX / 4), static_cast<int>(y * baseY / 8),
                     static_cast<int>(w * baseX / 4), static_cast<int>(h * baseY / 8));
    };
    for (std::size_t i = 0; i < kControlCount; ++i) {
        const PanelControl& control = kPanelControls[i];
        QWidget* widget = CreateControl(control, this, m_logic);
        // A drop-down list's height in the table is its list's, open (as Win32 has it).
        const int height = control.kind == PanelControlKind::Combo ? 12 : control.height;
        m_places[i] = map(control.x, control.y, control.width, height);
        m_controls[i] = widget;
        if (control.kind == PanelControlKind::Frame)
            widget->lower();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, id = control.id] { m_logic.OnPanelCommand(id); });
        }
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            connect(combo, &QComboBox::activated, this,
                    [this, id = control.id] { m_logic.OnPanelCommand(id); });
        }
        if (auto* list = qobject_cast<QListWidget*>(widget);
            list && control.kind == PanelControlKind::PartList) {
            // A press on a box is no item's press: it only ticks, then clicks.
            connect(list, &QListWidget::itemPressed, this, [this] { m_tickedPart = -1; });
            connect(list, &QListWidget::itemClicked, this, [this, list](QListWidgetItem* item) {
                if (list->row(item) != std::exchange(m_tickedPart, -1))
                    m_logic.OnPanelCommand(IDC_PARTS);
            });
            // Only a box changes here: ShowParts fills the list with its signals blocked.
            connect(list, &QListWidget::itemChanged, this, [this, list](QListWidgetItem* item) {
                m_tickedPart = list->row(item);
                list->setCurrentItem(item);
                m_logic.OnPanelCommand(IDC_PARTS_KEEP);
            });
        } else if (list) {
            connect(list, &QListWidget::itemClicked, this,
                    [this, id = control.id] { m_logic.OnPanelCommand(id); });
        }
        if (auto* rows = qobject_cast<QTreeWidget*>(widget)) {
            connect(rows, &QTreeWidget::currentItemChanged, this,
                    [this] { m_logic.OnPanelCommand(IDC_HISTORY); });
            connect(rows, &QTreeWidget::itemDoubleClicked, this,
                    [this] { m_logic.OnPanelCommand(IDC_USE_FORM); });
        }
        // Enter in a field is its command: a spread's runs Re-Corrupt, the
        // name's renames, the command line's ends the edit.
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            connect(edit, &QLineEdit::returnPressed, this, [this, edit, id = control.id] {
                if (id == IDC_RUN_AFTER)
                    edit->clearFocus();
                m_logic.OnPanelCommand(id);
            });
        }
    }
    m_natural = map(0, 0, kPanelWidth, kPanelHeight).size();
    m_narrowest = map(0, 0, kPanelNarrowest, 0).width();
    Layout(m_natural.width());
    m_workers.setMaxThreadCount(2);
    m_logic.AttachPanel(*this);
}

QtPanelView::~QtPanelView() {
    m_logic.DetachPanel();
    m_workers.clear();
    m_workers.waitForDone();
}

void QtPanelView::Open() {
    if (!isVisible()) {
        Place();
        winId(); // so that the panel stays over the dialog, as a tool window of it
        windowHandle()->setTransientParent(m_dialog->windowHandle());
        show();
        // A window manager that frames the windows late may place them its own
        // way, and frames are only measured once it has: the pair is placed
        // again soon after, and once more when a busy machine has caught up.
        for (const int after : {200, 1000})
            QTimer::singleShot(after, this, &QtPanelView::Place);
        m_logic.OnPanelShown();
    }
    raise();
}

void QtPanelView::Place() {
    const QScreen* screen = m_dialog->screen();
    if (!screen)
        return;
    // A panel not shown yet has no frame of its own: the dialog's stands for it.
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (frame.isNull() && m_dialog->windowHandle())
        frame = m_dialog->windowHandle()->frameMargins();
    const int across = frame.left() + frame.right();
    const QRect dialog = m_dialog->frameGeometry();
    const QRect work = screen->availableGeometry();
    const PairPlace place = PlacePair({work.x(), work.y(), work.width(), work.height()},
                                      {dialog.width(), dialog.height(), m_natural.width() + across,
                                       m_natural.height() + frame.top() + frame.bottom(),
                                       m_narrowest + across, kPanelGap});
    if (dialog.topLeft() != QPoint(place.dialog.x, place.dialog.y))
        m_dialog->move(place.dialog.x, place.dialog.y);
    Layout(std::clamp(place.panel.width - across, m_narrowest, m_natural.width()));
    move(place.panel.x, place.panel.y);
}

void QtPanelView::Layout(int width) {
    const int shortfall = m_natural.width() - width;
    for (std::size_t i = 0; i < kControlCount; ++i) {
        QRect place = m_places[i];
        if (kPanelControls[i].give)
            place.setWidth(place.width() - shortfall);
        m_controls[i]->setGeometry(place);
    }
    setFixedSize(width, m_natural.height());
}

template <typename T> T* QtPanelView::Control(int id) const {
    for (std::size_t i = 0; i < kControlCount; ++i) {
        if (kPanelControls[i].id != id)
            continue;
        if (auto* control = qobject_cast<T*>(m_controls[i]))
            return control;
        qFatal("Panel control %d is no %s", id, T::staticMetaObject.className());
    }
    qFatal("No panel control %d", id);
}

bool QtPanelView::IsOpen() const {
    return isVisible();
}

std::string QtPanelView::FieldText(int id) const {
    return Control<QLineEdit>(id)->text().toStdString();
}

void QtPanelView::SetFieldText(int id, const std::string& text) {
    Control<QLineEdit>(id)->setText(QString::fromStdString(text));
}

// A text shown at run time may be longer than its place (a path in the
// status): the whole of it is in the tooltip, and it can be selected.
void QtPanelView::ShowText(int id, const std::string& text) {
    auto* label = Control<QLabel>(id);
    label->setText(QString::fromStdString(text));
    label->setToolTip(label->text());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

bool QtPanelView::IsChecked(int id) const {
    return Control<QAbstractButton>(id)->isChecked();
}

void QtPanelView::SetChecked(int id, bool checked) {
    Control<QAbstractButton>(id)->setChecked(checked);
}

void QtPanelView::SetEnabled(int id, bool enabled) {
    Control<QWidget>(id)->setEnabled(enabled);
}

void QtPanelView::ShowHistory(const std::vector<HistoryRow>& rows, int selected) {
    auto* list = Control<QTreeWidget>(IDC_HISTORY);
    const QSignalBlocker quiet(list);
    list->clear();
    for (const HistoryRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            list, {QString::fromStdString(row.summary), QString::fromStdString(row.steps)});
        item->setToolTip(1, item->text(1));
        if (!row.thumbnail.rgb.empty()) {
            const play::Frame& frame = row.thumbnail;
            const QImage image(frame.rgb.data(), static_cast<int>(frame.width),
                               static_cast<int>(frame.height),
                               static_cast<qsizetype>(frame.width) * 3, QImage::Format_RGB888);
            item->setIcon(0, QIcon(QPixmap::fromImage(image))); // a deep copy
        }
    }
    list->setCurrentItem(selected >= 0 ? list->topLevelItem(selected) : nullptr);
    if (selected >= 0)
        list->scrollToItem(list->topLevelItem(selected));
}

int QtPanelView::SelectedRow() const {
    auto* list = Control<QTreeWidget>(IDC_HISTORY);
    return list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : -1;
}

void QtPanelView::SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

std::optional<std::string> QtPanelView::ClipboardText() const {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return std::nullopt;
    return text.toStdString();
}

namespace {

QString Filters(const std::vector<FileType>& types) {
    QStringList filters;
    for (const FileType& type : types) {
        // Qt's filters name "*" for every file, not "*.*".
        const QString pattern =
            type.pattern == "*.*" ? QString("*") : QString::fromStdString(type.pattern);
        QString name = QString::fromStdString(type.name);
        filters << name.left(name.indexOf('(')).trimmed() + " (" + pattern + ")";
    }
    return filters.join(";;");
}

} // namespace

std::optional<std::filesystem::path>
QtPanelView::AskForSaveName(const std::string& title, const std::filesystem::path& suggested,
                            const std::vector<FileType>& types) {
    // The logic asks before anything is replaced, in its own words.
    const QString name = QFileDialog::getSaveFileName(
        this, QString::fromStdString(title), ToText(suggested), Filters(types), nullptr,
        QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return std::nullopt;
    return ToPath(name);
}

std::optional<std::filesystem::path>
QtPanelView::AskForOpenName(const std::string& title, const std::filesystem::path& folder,
                            const std::vector<FileType>& types) {
    const QString name =
        QFileDialog::getOpenFileName(this, QString::fromStdString(title), ToText(folder),
                                     Filters(types), nullptr, QFileDialog::DontUseNativeDialog);
    if (name.isEmpty())
        return std::nullopt;
    return ToPath(name);
}

std::filesystem::path QtPanelView::DataFolder() const {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? std::filesystem::path() : ToPath(folder);
}

} // namespace glitchwerk

namespace glitchwerk {

void QtPanelView::ShowParts(const std::vector<std::string>& rows, const std::vector<bool>& kept) {
    auto* list = Control<QListWidget>(IDC_PARTS);
    const QSignalBlocker quiet(list);
    list->clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(rows[i]), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(i < kept.size() && kept[i] ? Qt::Checked : Qt::Unchecked);
    }
}

int QtPanelView::SelectedPart() const {
    return Control<QListWidget>(IDC_PARTS)->currentRow();
}

bool QtPanelView::PartKept(int row) const {
    const QListWidgetItem* item = Control<QListWidget>(IDC_PARTS)->item(row);
    return item && item->checkState() == Qt::Checked;
}

void QtPanelView::ShowChoices(int id, const std::vector<std::string>& items, int selected) {
    auto* combo = Control<QComboBox>(id);
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const std::string& item : items)
        combo->addItem(QString::fromStdString(item));
    combo->setCurrentIndex(selected);
}

int QtPanelView::SelectedChoice(int id) const {
    return Control<QComboBox>(id)->currentIndex();
}

ImageDecoder QtPanelView::PreviewDecoder() const {
    const QSize room = Control<QScrollArea>(IDC_PREVIEW)->viewport()->size() * devicePixelRatioF();
    return QtImageDecoder(room.width(), room.height());
}

void QtPanelView::ShowPreview(const PreviewPicture& picture) {
    auto* area = Control<QScrollArea>(IDC_PREVIEW);
    auto* label = qobject_cast<QLabel*>(area->widget());
    if (picture.pixels.empty()) {
        label->setText(QString::fromStdString(picture.why));
        return;
    }
    const QImage image(picture.pixels.data(), picture.width, picture.height,
                       static_cast<qsizetype>(picture.width) * picture.channels,
                       picture.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGBA8888);
    QPixmap pixmap = QPixmap::fromImage(image); // a deep copy
    if (picture.channels == 1) {
        // Tiles keep square pixels: as many times their size as fits across.
        const int times = std::max(1, area->viewport()->width() / picture.width);
        pixmap = pixmap.scaled(picture.width * times, picture.height * times);
    }
    label->setPixmap(pixmap);
}

void QtPanelView::RunInBackground(std::function<void()> work, std::function<void()> done) {
    m_workers.start([this, work = std::move(work), done = std::move(done)]() mutable {
        work();
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
    });
}

} // namespace glitchwerk

namespace glitchwerk {

PlaySetup QtPanelView::Playing() const {
    return m_playSetup ? *m_playSetup : InstalledPlaySetup();
}

void QtPanelView::ShowPlayView(bool shown) {
    auto* view = Control<QWidget>(IDC_PLAY_VIEW);
    Control<QScrollArea>(IDC_PREVIEW)->setVisible(!shown);
    view->setVisible(shown);
}

void QtPanelView::ShowFrame(const play::Frame& frame) {
    const QImage image(frame.rgb.data(), static_cast<int>(frame.width),
                       static_cast<int>(frame.height), static_cast<qsizetype>(frame.width) * 3,
                       QImage::Format_RGB888);
    static_cast<PlayView*>(Control<QWidget>(IDC_PLAY_VIEW))->SetFrame(image.copy());
}

void QtPanelView::ShowPlayState(const std::string& text) {
    static_cast<PlayView*>(Control<QWidget>(IDC_PLAY_VIEW))->SetState(QString::fromStdString(text));
}

void QtPanelView::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

} // namespace glitchwerk
