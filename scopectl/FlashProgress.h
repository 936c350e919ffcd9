// What a flash shows while it runs: one progress line rewritten in place on a
// terminal, plain lines otherwise, or one JSON object per step.
#pragma once

#include "LoaderView.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace scopectl {

struct StepReport {
    std::string phase; // "geometry", "erase", "blank-check", "data", "end"
    int sector = 0;    // the sector being written, from 0
    int sectors = 0;
    int block = 0;  // blocks acknowledged so far
    int blocks = 0; // data blocks of the whole download
    int errors = 0;
    std::int64_t elapsedMs = 0;
    bool failed = false; // the step's command was not acknowledged
};

class FlashProgress : public loader::LoaderView {
  public:
    enum class Style { Terminal, Lines, Json };

    FlashProgress(Style style, std::FILE* out) : m_style(style), m_out(out) {}

    // The window's texts and bars: the report below says the same.
    void SetText(int, const std::string&) override {}
    void EnableButton(int, bool) override {}
    void SetBarRange(int, int, int) override {}
    void SetBarPosition(int, int) override {}

    void Step(const StepReport& step);
    // Ends the terminal's progress line before anything else is printed.
    void Close();

    static std::int64_t Rate(const StepReport& step);

  private:
    void TerminalLine(const StepReport& step);
    void PlainLine(const StepReport& step);

    Style m_style;
    std::FILE* m_out;
    std::int64_t m_lastDrawnMs = -1;
    int m_lastSector = -1;
    bool m_lineOpen = false;
};

} // namespace scopectl
