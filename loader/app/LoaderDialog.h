// Haldrin's window: file and transfer panels, status line, the SECTOR and
// TOTAL bars and the three buttons. It builds its widgets and wires the
// download sequencer to them, to the window timers and to the modal prompts.
#pragma once

#include "DesktopDownload.h"
#include "DownloadSequencer.h"
#include "FileChooser.h"
#include "LoaderQtPrompts.h"
#include "LoaderWidgets.h"
#include "QtWindowTimers.h"
#include "ScopeLink.h"
#include "SteadyClock.h"

#include <QDialog>
#include <QIcon>

#include <vector>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace loader {

class LoaderDialog : public QDialog {
  public:
    // chooser: the file selection to use; null for the *.BIN file dialog.
    explicit LoaderDialog(FileChooser* chooser = nullptr);
    ~LoaderDialog() override;

    void OnSysCommand(int id);

    const appsupport::QtWindowTimers& Timers() const { return m_timers; }
    QProgressBar* TotalBar() const;
    QProgressBar* SectorBar() const;

    // Enter does nothing; Escape and the close box ask as Exit does.
    void accept() override {}
    void reject() override { m_sequencer.OnExit(); }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildLayout();
    QLabel* AddText(int id, const char* text, int x, int y, int w, int h);
    QPushButton* AddButton(int id, const char* text, int x, int y, int w, int h);
    void PaintOwnBackgrounds();

    QIcon m_hIcon;
    std::vector<QGroupBox*> m_groups; // the panels, behind the texts and bars
    BinFileChooser m_binChooser;
    LoaderWidgets m_widgets;
    // The window's elements as the sequencer writes them, and the desktop's
    // view of the download (sleep inhibitor, taskbar progress).
    DesktopDownload m_desktop{m_widgets};
    ScopeLink m_link;
    appsupport::SteadyClock m_clock;
    appsupport::QtWindowTimers m_timers;
    LoaderQtPrompts m_prompts;
    DownloadSequencer m_sequencer;
};

} // namespace loader
