// Window-less stand-ins for the loader window's timers, clock, elements and
// dialogs, so that tests run whole downloads through the real sequencer.
#pragma once

#include "LoaderPrompts.h"
#include "LoaderView.h"
#include "StepTimers.h"
#include "TickClock.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class FakeClock : public TickClock {
  public:
    std::uint32_t Now() override { return now; }
    std::uint32_t now = 1000;
};

// A timer queue on the fake clock. Running a timer advances the clock to its
// due time; with realDelays it also sleeps the period, so that the virtual
// scope sees the host's real pacing (late replies land in the 100 ms retry gap).
class FakeTimers : public StepTimers {
  public:
    explicit FakeTimers(FakeClock& clock) : m_clock(clock) {}

    void Arm(int id, int periodMs) override;
    void Stop(int id) override { m_armed.erase(id); }

    bool IsArmed(int id) const { return m_armed.count(id) != 0; }
    std::size_t ArmedCount() const { return m_armed.size(); }
    // Runs the earliest armed timer through handler; false when none is armed.
    bool RunNext(const std::function<void(int)>& handler);

    struct Arming {
        int id;
        int periodMs;
    };
    std::vector<Arming> armings;
    std::vector<int> fired;
    bool realDelays = true;

  private:
    FakeClock& m_clock;
    std::map<int, std::uint32_t> m_armed;
    std::map<int, int> m_periods;
};

class FakeView : public LoaderView {
  public:
    void SetText(int control, const std::string& text) override {
        texts[control] = text;
        textHistory[control].push_back(text);
    }
    void EnableButton(int control, bool enabled) override { enabled_[control] = enabled; }
    void SetBarRange(int control, int minimum, int maximum) override;
    void SetBarPosition(int control, int position) override;

    bool Enabled(int control) const;
    std::map<int, std::string> texts;
    std::map<int, std::vector<std::string>> textHistory;
    std::map<int, bool> enabled_;
    std::map<int, std::pair<int, int>> ranges;
    std::map<int, int> positions;
    // Every range maximum and position set, in order, per bar.
    std::map<int, std::vector<int>> rangeHistory;
    std::map<int, std::vector<int>> positionHistory;
};

class FakePrompts : public LoaderPrompts {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override;
    FinishChoice RunFinishDialog() override;
    std::optional<std::string> ChooseFile() override;
    void EndDialog(DialogEnd end) override { ended = end; }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answerYes = false;
    // Answers of the file selection, in order; cancelled once they run out.
    std::deque<std::optional<std::string>> files;
    // Runs while the file selection is open (before it answers).
    std::function<void()> whileChoosing;
    int chooserOpenings = 0;
    FinishChoice finishChoice = FinishChoice::Finish;
    int finishDialogs = 0;
    std::optional<DialogEnd> ended;
};
