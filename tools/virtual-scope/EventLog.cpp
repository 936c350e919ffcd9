#include "EventLog.h"

#include <cerrno>
#include <cstring>

namespace vscope {

EventLog::EventLog() : m_start(std::chrono::steady_clock::now()) {}

EventLog::~EventLog() {
    if (m_file)
        std::fclose(m_file);
}

std::string EventLog::Open(const std::string& path) {
    m_file = std::fopen(path.c_str(), "w");
    if (!m_file)
        return "cannot create the log file " + path + ": " + std::strerror(errno);
    std::setvbuf(m_file, nullptr, _IOLBF, 0);
    return {};
}

void EventLog::Write(const std::string& fields) {
    if (!m_file)
        return;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count();
    std::fprintf(m_file, "t=%.3f %s\n", ms, fields.c_str());
    std::fflush(m_file);
}

} // namespace vscope
