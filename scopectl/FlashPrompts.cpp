#include "FlashPrompts.h"

namespace scopectl {

void FlashPrompts::ShowMessage(const std::string& text) {
    m_message.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            m_message += ' ';
            ++i;
        } else {
            m_message += text[i];
        }
    }
}

loader::LoaderPrompts::FinishChoice FlashPrompts::RunFinishDialog() {
    m_finished = true;
    return FinishChoice::Finish;
}

void FlashPrompts::DownloadRunning(bool running) {
    m_running = running;
    m_started = m_started || running;
}

} // namespace scopectl
