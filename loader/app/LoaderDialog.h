// Layout 102, Haldrin's window: file and transfer panels, status line, the
// SECTOR and TOTAL bars and the three buttons. It binds the download sequencer
// to widgets, message boxes and one Qt timer per step identifier.
#pragma once

#include "DownloadSequencer.h"
#include "FileChooser.h"
#include "LoaderPrompts.h"
#include "LoaderView.h"
#include "QtStepTimers.h"
#include "ScopeLink.h"
#include "SteadyTickClock.h"

#include <QDialog>
#include <QIcon>

#include <map>

class QLabel;
class QProgressBar;
class QPushButton;

class LoaderDialog : public QDialog, private LoaderView, private LoaderPrompts {
  public:
    static constexpr int kAboutCommand = 16;

    // chooser: the file selection to use; null for the *.BIN file dialog.
    explicit LoaderDialog(FileChooser* chooser = nullptr);
    ~LoaderDialog() override;

    // The system-menu rule: identifiers 16 to 31 open the about box.
    static bool IsAboutCommand(int id) { return (id & 0xFFF0) == kAboutCommand; }
    void OnSysCommand(int id);

    DownloadSequencer& Sequencer() { return m_sequencer; }
    ScopeLink& Link() { return m_link; }
    QtStepTimers& Timers() { return m_timers; }
    QProgressBar* TotalBar() const { return m_totalBar; }
    QProgressBar* SectorBar() const { return m_sectorBar; }

    // Enter does nothing; Escape and the close box ask as Exit does.
    void accept() override {}
    void reject() override { m_sequencer.OnExit(); }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BuildLayout();
    QLabel* AddText(int id, const char* text, int x, int y, int w, int h);
    QPushButton* AddButton(int id, const char* text, int x, int y, int w, int h);

    // LoaderView
    void SetText(int control, const std::string& text) override;
    void EnableButton(int control, bool enabled) override;
    void SetBarRange(int control, int minimum, int maximum) override;
    void SetBarPosition(int control, int position) override;

    // LoaderPrompts
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    FinishChoice RunFinishDialog() override;
    std::optional<std::string> ChooseFile() override;
    void EndDialog(DialogEnd end) override;

    QProgressBar* m_totalBar = nullptr;
    QProgressBar* m_sectorBar = nullptr;
    ScopeLink m_link;
    SteadyTickClock m_clock;
    QtStepTimers m_timers;
    DownloadSequencer m_sequencer;
    QIcon m_hIcon;
    BinFileChooser m_binChooser;
    FileChooser* m_chooser;
    std::map<int, QLabel*> m_texts;
    std::map<int, QPushButton*> m_buttons;
};
