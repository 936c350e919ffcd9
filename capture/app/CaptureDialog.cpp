#include "CaptureDialog.h"

#include "AboutDialog.h"
#include "AboutMenu.h"
#include "CaptureControls.h"
#include "DialogUnits.h"
#include "MultiLineButton.h"
#include "ProgramIcon.h"
#include "SystemMenu.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QShortcut>

namespace capture {

namespace {
struct ControlTemplate {
    int id;
    const char* text;
    int x, y, width, height;
    bool multiLine;
};

using namespace controls;

// The window's layout, in template (and tab) order.
const ControlTemplate kControls[] = {
    {kOk, "확인", 205, 202, 50, 14, false},
    {kCancel, "취소", 241, 202, 50, 14, false},
    {kRealTime, "Real Time", 76, 0, 37, 22, true},
    {kZoom, "Zoom In", 0, 0, 37, 22, false},
    {kScreenCapture, "Screen Capture", 38, 0, 37, 22, true},
    {kStop, "Stop", 114, 0, 37, 22, false},
    {kPrint, "Print", 152, 0, 37, 22, false},
    {kSave, "Save", 190, 0, 37, 22, false},
};

const char* const kAboutMenuText = "Quorvex 정보(&A)...";
} // namespace

QBrush ControlColors(int controlId, const QBrush& defaultBrush) {
    if (controlId >= kRealTime && controlId <= kSave)
        return QBrush(QColor(128, 128, 128));
    return defaultBrush;
}

CaptureDialog::CaptureDialog() : CaptureDialog(Options{}) {}

CaptureDialog::CaptureDialog(Options options)
    : QDialog(nullptr), m_options(std::move(options)),
      m_hIcon(appsupport::ProgramIcon(QStringLiteral("quorvex"))),
      m_timers([this](int id) { m_link.OnCaptureTimer(id); }),
      m_qtMessages(this, QStringLiteral("Quorvex"), QMessageBox::Question, m_timers),
      m_qtChooser(this, m_timers), m_qtPrinter(this), m_view(this, [this] { return PictureTarget(); }),
      m_messages(m_options.messages ? *m_options.messages : m_qtMessages),
      m_receiver(m_state, m_options.driver ? *m_options.driver : DriverTable::Process(), m_canvas, m_view,
                 m_clock),
      m_link(m_state, m_options.driver ? *m_options.driver : DriverTable::Process(), m_receiver, m_canvas,
             m_messages, m_timers, m_clock, m_options.binding),
      m_saver(m_options.chooser ? *m_options.chooser : m_qtChooser, m_messages),
      m_printer(m_options.printer ? *m_options.printer : m_qtPrinter, m_messages) {
    BuildLayout();
}

CaptureDialog::~CaptureDialog() {
    if (m_linkOpened)
        m_link.CloseLink();
}

void CaptureDialog::BuildLayout() {
    setWindowTitle(QStringLiteral("Quorvex"));
    const QFont font = layout::DialogFont(QStringLiteral("굴림"), 9);
    setFont(font);
    const layout::DialogUnits du(font);
    for (const ControlTemplate& control : kControls) {
        const QString text = QString::fromUtf8(control.text);
        QPushButton* button =
            control.multiLine ? new MultiLineButton(text, this) : new QPushButton(text, this);
        button->setObjectName(QStringLiteral("button%1").arg(control.id));
        button->setGeometry(du.Rect(control.x, control.y, control.width, control.height));
        button->setAutoDefault(false);
        QPalette palette = button->palette();
        palette.setBrush(QPalette::Button, ControlColors(control.id, palette.brush(QPalette::Button)));
        if (control.id >= 1000)
            palette.setColor(QPalette::ButtonText, Qt::black);
        button->setPalette(palette);
    }
    QPushButton* ok = Button(kOk);
    ok->setDefault(true);
    ok->hide();
    Button(kCancel)->hide();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button(kCancel), &QPushButton::clicked, this, &QDialog::reject);
    connect(Button(kRealTime), &QPushButton::clicked, this, [this] { m_receiver.StartRealTime(); });
    connect(Button(kZoom), &QPushButton::clicked, this, [this] { ToggleZoom(); });
    connect(Button(kScreenCapture), &QPushButton::clicked, this, [this] { m_receiver.CaptureOnce(); });
    connect(Button(kStop), &QPushButton::clicked, this, [this] { m_receiver.StopCapture(); });
    connect(Button(kPrint), &QPushButton::clicked, this, [this] { m_printer.PrintImage(m_canvas); });
    connect(Button(kSave), &QPushButton::clicked, this, [this] { m_saver.SaveImage(m_canvas, m_zoomed); });
    // Keys beside the buttons.
    const auto key = [this](QKeyCombination keys, auto command) {
        connect(new QShortcut(QKeySequence(keys), this), &QShortcut::activated, this, command);
    };
    key(Qt::CTRL | Qt::Key_S, [this] { Button(kSave)->click(); });
    key(Qt::CTRL | Qt::Key_P, [this] { Button(kPrint)->click(); });
    key(Qt::CTRL | Qt::Key_C, [this] { CopyPicture(); });
}

void CaptureDialog::CopyPicture() {
    if (m_canvas.IsCreated())
        QGuiApplication::clipboard()->setImage(ImageSaver::SavedPicture(m_canvas, m_zoomed));
}

QPushButton* CaptureDialog::Button(int controlId) const {
    return findChild<QPushButton*>(QStringLiteral("button%1").arg(controlId), Qt::FindDirectChildrenOnly);
}

bool CaptureDialog::OnInitDialog() {
    setWindowIcon(m_hIcon);
    setWindowTitle(QStringLiteral("Quorvex Ver 1.2"));
    m_zoomed = 0;
    const bool bound = m_link.OpenLink() == 1;
    m_linkOpened = true;
    move(0, 0);
    SetOuterSize(kStartOuterSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(kStartOuterSize.width() / 2, kStartOuterSize.height() / 2));
    }
    Button(kRealTime)->setFocus();
    if (!bound)
        setResult(QDialog::Accepted);
    return bound;
}

int CaptureDialog::Run() {
    if (!OnInitDialog())
        return QDialog::Accepted;
    return exec();
}

void CaptureDialog::SetOuterSize(QSize outer) {
    // The frame's size is known only once the window manager has framed the window.
    const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize(0, 0);
    setFixedSize(outer - frame);
}

void CaptureDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_sizedAfterShow) {
        m_sizedAfterShow = true;
        SetOuterSize(kStartOuterSize + (m_zoomed ? kZoomGrowth : QSize(0, 0)));
    }
}

void CaptureDialog::ToggleZoom() {
    const QRect outer = frameGeometry();
    if (m_zoomed == 1) {
        Button(kZoom)->setText(QStringLiteral("Zoom In"));
        SetOuterSize(outer.size() - kZoomGrowth);
        move(outer.topLeft());
        m_zoomed = 0;
    } else {
        Button(kZoom)->setText(QStringLiteral("Zoom Out"));
        SetOuterSize(outer.size() + kZoomGrowth);
        move(outer.topLeft());
        m_zoomed = 1;
    }
    update();
}

void CaptureDialog::paintEvent(QPaintEvent* event) {
    if (m_canvas.IsCreated() && !isMinimized()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const QRect source = ScreenCanvas::kScreenArea;
        const QRect target = PictureTarget();
        painter.drawImage(target, m_canvas.Image(), source);
    }
    QDialog::paintEvent(event);
}

void CaptureDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (const int command =
            appsupport::RunAboutMenu(this, QString::fromUtf8(kAboutMenuText), event->globalPos(), m_timers))
        ShowAboutBox(command);
}

void CaptureDialog::ShowAboutBox(int systemCommand) {
    if (!appsupport::IsAboutCommand(systemCommand))
        return;
    AboutDialog about;
    m_timers.RunModal([&] { about.exec(); });
}

QRect CaptureDialog::PictureTarget() const {
    const QSize shown = ScreenCanvas::kScreenArea.size();
    return {kPictureOrigin, m_zoomed == 1 ? shown * 2 : shown};
}

void CaptureView::InvalidateWindow() {
    m_window->update(m_pictureArea());
}

} // namespace capture
