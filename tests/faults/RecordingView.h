// The loader window's elements for a fault schedule: keeps the status line and
// counts the connect polls in a row that found no device.
#pragma once

#include "LoaderView.h"

#include <string>

class RecordingView : public loader::LoaderView {
  public:
    void SetText(int control, const std::string& text) override;
    void EnableButton(int, bool) override {}
    void SetBarRange(int, int, int) override {}
    void SetBarPosition(int, int) override {}

    const std::string& Status() const { return m_status; }
    int EmptyPollsInARow() const { return m_emptyPolls; }

  private:
    std::string m_status;
    int m_emptyPolls = 0;
};
