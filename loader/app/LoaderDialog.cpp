#include "LoaderDialog.h"

#include "AboutDialog.h"
#include "AboutMenu.h"
#include "DialogUnits.h"
#include "ElidedLabel.h"
#include "FinishDialog.h"
#include "LoaderControls.h"
#include "LoaderTexts.h"
#include "ProgramIcon.h"
#include "SystemMenu.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace loader {

using namespace controls;

namespace {
QString Text(const char* text) {
    return QString::fromUtf8(text);
}
} // namespace

LoaderDialog::LoaderDialog(FileChooser* chooser)
    : QDialog(nullptr), m_hIcon(appsupport::ProgramIcon(QStringLiteral("haldrin"))),
      m_timers([this](int id) { m_sequencer.OnLoaderTimer(id); }),
      m_prompts(*this, m_hIcon, m_timers, chooser ? *chooser : m_binChooser),
      m_sequencer(m_link, m_timers, m_clock, m_desktop, m_prompts, &m_desktop) {
    // Title bar with the window menu and close box, no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(Text(texts::kCaption));
    setWindowIcon(m_hIcon);
    BuildLayout();
    m_sequencer.ResetWindow();
    m_widgets.Button(kExit)->setFocus();
}

LoaderDialog::~LoaderDialog() = default;

QProgressBar* LoaderDialog::TotalBar() const {
    return m_widgets.Bar(kTotalBar);
}

QProgressBar* LoaderDialog::SectorBar() const {
    return m_widgets.Bar(kSectorBar);
}

void LoaderDialog::BuildLayout() {
    setFont(layout::DialogFont(QString::fromUtf8("굴림"), 9));
    const layout::DialogUnits du(font());
    setFixedSize(du.Size(283, 161));

    auto group = [&](const char* title, int x, int y, int w, int h) {
        auto* box = new QGroupBox(Text(title), this);
        box->setGeometry(du.Rect(x, y, w, h));
        box->lower();
        m_groups.push_back(box);
    };
    auto label = [&](const char* text, int x, int y, int w, int h) {
        auto* l = new QLabel(Text(text), this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(du.Rect(x, y, w, h));
    };
    auto bar = [&](int id, int x, int y, int w, int h) {
        auto* b = new QProgressBar(this);
        b->setObjectName(QString::number(id));
        b->setGeometry(du.Rect(x, y, w, h));
        b->setTextVisible(false);
        b->setRange(0, 100);
        b->setValue(0);
        m_widgets.AddBar(id, b);
    };

    group("FILE INFO", 7, 7, 269, 41);
    label("File Name:", 13, 17, 41, 11);
    AddText(kFileName, "File Name:", 54, 17, 214, 15);
    label("File Size:", 13, 34, 37, 11);
    AddText(kFileSize, "File Size:", 54, 34, 216, 11);

    group("TRANSFER INFO", 7, 53, 269, 82);
    label("Transfer Rate:", 10, 65, 49, 11);
    AddText(kTransferRate, "Transfer Rate:", 63, 65, 49, 8);
    label("Error Count:", 10, 76, 52, 11);
    AddText(kErrorCount, "Error Count:", 63, 76, 52, 11);
    label("Estimated Time:", 143, 65, 57, 11);
    AddText(kEstimatedTime, "Estimated Time:", 203, 65, 57, 8);
    label("Elapsed Time:", 143, 76, 57, 11);
    AddText(kElapsedTime, "Elapsed Time:", 203, 76, 57, 11);
    AddText(kStatus, "Status", 42, 93, 227, 8);
    label("SECTOR", 12, 107, 30, 8);
    bar(kSectorBar, 43, 105, 228, 12);
    label("TOTAL", 12, 121, 24, 8);
    bar(kTotalBar, 43, 119, 228, 12);

    QPushButton* openBin = AddButton(kOpenBin, "Open BIN", 7, 140, 50, 14);
    QPushButton* connectButton = AddButton(kConnect, "Connect", 62, 140, 50, 14);
    QPushButton* exitButton = AddButton(kExit, "Exit", 226, 140, 50, 14);
    setTabOrder(exitButton, openBin);
    setTabOrder(openBin, connectButton);
    connect(exitButton, &QPushButton::clicked, this, [this] { m_sequencer.OnExit(); });
    connect(connectButton, &QPushButton::clicked, this, [this] { m_sequencer.OnConnect(); });
    connect(openBin, &QPushButton::clicked, this, [this] { m_sequencer.OnOpenBin(); });
    PaintOwnBackgrounds();
}

// The texts and bars that change during a download fill their own background
// with the colour of the panel beneath them (the style may tint a group box's
// inside), so that Qt repaints just them, not the panel and its frame too.
void LoaderDialog::PaintOwnBackgrounds() {
    for (QGroupBox* box : m_groups) {
        QImage panel(box->size(), QImage::Format_RGB32);
        box->render(&panel, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        for (QWidget* changing : m_widgets.Changing()) {
            const QRect inBox = changing->geometry().translated(-box->pos());
            if (!panel.rect().contains(inBox.center()))
                continue;
            QPalette palette = changing->palette();
            palette.setColor(QPalette::Window, panel.pixelColor(inBox.center()));
            changing->setPalette(palette);
            changing->setAutoFillBackground(true);
        }
    }
}

void LoaderDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange)
        PaintOwnBackgrounds();
}

QLabel* LoaderDialog::AddText(int id, const char* text, int x, int y, int w, int h) {
    const layout::DialogUnits du(font());
    // A long path is drawn elided in the middle, so that its file name stays in sight.
    auto* l = id == kFileName ? new ElidedLabel(Text(text), this) : new QLabel(Text(text), this);
    // Static texts of the classic layouts sit at the top of their rectangle.
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setObjectName(QString::number(id));
    l->setGeometry(du.Rect(x, y, w, h));
    m_widgets.AddText(id, l);
    return l;
}

QPushButton* LoaderDialog::AddButton(int id, const char* text, int x, int y, int w, int h) {
    const layout::DialogUnits du(font());
    auto* b = new QPushButton(Text(text), this);
    b->setObjectName(QString::number(id));
    b->setGeometry(du.Rect(x, y, w, h));
    // No default button: Enter must not press whichever button has the focus.
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setFocusPolicy(Qt::StrongFocus);
    m_widgets.AddButton(id, b);
    return b;
}

void LoaderDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (const int command =
            appsupport::RunAboutMenu(this, Text(texts::kAboutEntry), event->globalPos(), m_timers))
        OnSysCommand(command);
}

void LoaderDialog::OnSysCommand(int id) {
    if (appsupport::IsAboutCommand(id)) {
        AboutDialog about(m_hIcon, this);
        m_timers.RunModal([&] { about.exec(); });
    }
}

} // namespace loader
