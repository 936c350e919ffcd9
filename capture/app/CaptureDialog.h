// The capture window (layout 102): six command buttons along the top and the scope's
// picture below at 1x or 2x. Binds buttons, timer 1, painting and the about entry to
// the capture logic; holds no logic of its own.
#pragma once

#include "CaptureLink.h"
#include "CaptureState.h"
#include "FrameReceiver.h"
#include "ImagePrinter.h"
#include "ImageSaver.h"
#include "QtFileChooser.h"
#include "QtMessageBoxes.h"
#include "QtPrinterPort.h"
#include "ScreenCanvas.h"
#include "SystemClock.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <functional>

class QPushButton;

namespace capture {

class CaptureDialog : public QDialog, private WindowPort, private TimerPort {
  public:
    static constexpr int kAboutCommand = 16;
    static constexpr QSize kStartOuterSize{400, 440};
    static constexpr QSize kZoomGrowth{240, 280};
    static constexpr QPoint kPictureOrigin{80, 50};

    // Where the tests put the modal boxes and choosers; null members mean the real ones.
    struct Options {
        CaptureLink::Binding binding;
        DriverTable* driver = nullptr;
        MessagePort* messages = nullptr;
        FileChooserPort* chooser = nullptr;
        PrinterPort* printer = nullptr;
    };

    CaptureDialog();
    explicit CaptureDialog(Options options);
    ~CaptureDialog() override;

    // The initialisation sequence; then runs the dialog modally unless the drivers are missing.
    int Run();
    // false when the driver could not be bound (the dialog has then ended with OK).
    bool OnInitDialog();

    void ToggleZoom();
    void ShowAboutBox(int systemCommand);
    void SaveImage();
    void PrintImage();

    QPushButton* Button(int controlId) const;
    int Zoomed() const { return m_zoomed; }
    const CaptureState& State() const { return m_state; }
    FrameReceiver& Receiver() { return m_receiver; }

    // Runs a modal box so that timer 1 keeps ticking behind it even when the box was
    // opened from inside a tick (Qt does not re-enter a timer from its own handler).
    void RunModal(const std::function<void()>& show);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void InvalidateWindow() override;
    void StartTimer(int id, int periodMs) override;
    void StopTimer(int id) override;

    void BuildLayout();
    void OnTick();
    void SetOuterSize(QSize outer);

    Options m_options;
    CaptureState m_state;
    ScreenCanvas m_canvas;
    int m_zoomed = 0;
    QIcon m_hIcon;
    SystemClock m_clock;
    QtMessageBoxes m_qtMessages;
    QtFileChooser m_qtChooser;
    QtPrinterPort m_qtPrinter;
    MessagePort& m_messages;
    FrameReceiver m_receiver;
    CaptureLink m_link;
    ImageSaver m_saver;
    ImagePrinter m_printer;
    QTimer m_timer;
    int m_tickDepth = 0;
    bool m_linkOpened = false;
    bool m_sizedAfterShow = false;
};

// The background brush of a control: gray for the six command buttons, else the default.
QBrush ControlColors(int controlId, const QBrush& defaultBrush);

} // namespace capture
