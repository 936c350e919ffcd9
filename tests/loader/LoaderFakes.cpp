#include "LoaderFakes.h"

#include <chrono>
#include <thread>

void FakeTimers::Arm(int id, int periodMs) {
    armings.push_back({id, periodMs});
    m_armed[id] = m_clock.now + static_cast<std::uint32_t>(periodMs);
    m_periods[id] = periodMs;
}

bool FakeTimers::RunNext(const std::function<void(int)>& handler) {
    if (m_armed.empty())
        return false;
    auto next = m_armed.begin();
    for (auto it = m_armed.begin(); it != m_armed.end(); ++it)
        if (static_cast<std::int32_t>(it->second - next->second) < 0)
            next = it;
    const int id = next->first;
    if (static_cast<std::int32_t>(next->second - m_clock.now) > 0) {
        if (realDelays)
            std::this_thread::sleep_for(std::chrono::milliseconds(next->second - m_clock.now));
        m_clock.now = next->second;
    }
    fired.push_back(id);
    // Deliberately left armed: the handler must stop the timer that fired.
    handler(id);
    return true;
}

void FakeView::SetBarRange(int control, int minimum, int maximum) {
    ranges[control] = {minimum, maximum};
    rangeHistory[control].push_back(maximum);
}

void FakeView::SetBarPosition(int control, int position) {
    positions[control] = position;
    positionHistory[control].push_back(position);
}

bool FakeView::Enabled(int control) const {
    const auto found = enabled_.find(control);
    return found != enabled_.end() && found->second;
}

bool FakePrompts::AskYesNo(const std::string& text) {
    questions.push_back(text);
    return answerYes;
}

LoaderPrompts::FinishChoice FakePrompts::RunFinishDialog() {
    ++finishDialogs;
    return finishChoice;
}

std::optional<std::string> FakePrompts::ChooseFile() {
    ++chooserOpenings;
    if (whileChoosing) {
        auto during = std::move(whileChoosing);
        whileChoosing = nullptr;
        during();
    }
    if (files.empty())
        return std::nullopt;
    std::optional<std::string> answer = files.front();
    files.pop_front();
    return answer;
}
