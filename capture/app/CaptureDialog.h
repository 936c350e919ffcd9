// The capture window: six command buttons along the top and the scope's picture
// below at 1x or 2x; Ctrl+S saves, Ctrl+P prints and Ctrl+C copies the picture. It builds its widgets and
// wires the capture logic to them, to the window timers and to the modal prompts; it holds no logic of its
// own.
#pragma once

#include "CaptureLink.h"
#include "CaptureState.h"
#include "FrameReceiver.h"
#include "ImagePrinter.h"
#include "ImageSaver.h"
#include "QtFileChooser.h"
#include "QtMessageBoxes.h"
#include "QtPrinterPort.h"
#include "QtWindowTimers.h"
#include "ScreenCanvas.h"
#include "SteadyClock.h"

#include <QDialog>
#include <QIcon>

#include <functional>

class QPushButton;

namespace capture {

// The window as the capture logic sees it. A new frame repaints only where the
// picture is shown (pictureArea gives it at the current zoom): the buttons and
// the rest of the window stay as they are.
class CaptureView : public WindowPort {
  public:
    CaptureView(QWidget* window, std::function<QRect()> pictureArea)
        : m_window(window), m_pictureArea(std::move(pictureArea)) {}
    void InvalidateWindow() override;

  private:
    QWidget* m_window;
    std::function<QRect()> m_pictureArea;
};

class CaptureDialog : public QDialog {
  public:
    static constexpr QSize kStartOuterSize{400, 440};
    static constexpr QSize kZoomGrowth{240, 280};
    static constexpr QPoint kPictureOrigin{80, 50};

    // Where the tests put the modal boxes and choosers; null members mean the real ones.
    struct Options {
        CaptureLink::Binding binding;
        DriverTable* driver = nullptr;
        appsupport::Messages* messages = nullptr;
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
    // Ctrl+C: the picture to the clipboard as Save writes it at the zoom shown.
    void CopyPicture();
    void ShowAboutBox(int systemCommand);

    QPushButton* Button(int controlId) const;
    int Zoomed() const { return m_zoomed; }
    const CaptureState& State() const { return m_state; }
    FrameReceiver& Receiver() { return m_receiver; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    QRect PictureTarget() const;
    void BuildLayout();
    void SetOuterSize(QSize outer);

    Options m_options;
    CaptureState m_state;
    ScreenCanvas m_canvas;
    int m_zoomed = 0;
    QIcon m_hIcon;
    appsupport::SteadyClock m_clock;
    appsupport::QtWindowTimers m_timers;
    appsupport::QtMessageBoxes m_qtMessages;
    QtFileChooser m_qtChooser;
    QtPrinterPort m_qtPrinter;
    CaptureView m_view;
    appsupport::Messages& m_messages;
    FrameReceiver m_receiver;
    CaptureLink m_link;
    ImageSaver m_saver;
    ImagePrinter m_printer;
    bool m_linkOpened = false;
    bool m_sizedAfterShow = false;
};

// The background brush of a control: gray for the six command buttons, else the default.
QBrush ControlColors(int controlId, const QBrush& defaultBrush);

} // namespace capture
