// The loader window's elements as the sequencer addresses them: texts, buttons
// and the two bars, by control identifier.
#pragma once

#include "LoaderView.h"

#include <map>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace loader {

class LoaderWidgets : public LoaderView {
  public:
    void AddText(int control, QLabel* label) { m_texts[control] = label; }
    void AddButton(int control, QPushButton* button) { m_buttons[control] = button; }
    void AddBar(int control, QProgressBar* bar) { m_bars[control] = bar; }
    QPushButton* Button(int control) const;
    QProgressBar* Bar(int control) const;
    // The texts and bars that change during a download (the file's name and
    // size change only when a file is chosen).
    std::vector<QWidget*> Changing() const;

    void SetText(int control, const std::string& text) override;
    void EnableButton(int control, bool enabled) override;
    void SetBarRange(int control, int minimum, int maximum) override;
    void SetBarPosition(int control, int position) override;

  private:
    std::map<int, QLabel*> m_texts;
    std::map<int, QPushButton*> m_buttons;
    std::map<int, QProgressBar*> m_bars;
    std::map<const QProgressBar*, int> m_paintedValues; // each bar's value as last marked for painting
};

} // namespace loader
