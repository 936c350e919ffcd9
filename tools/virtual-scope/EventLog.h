#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace vscope {

// The machine-readable event log: one line per event, "t=<ms> ev=<name> ...",
// flushed as each line is complete so that a test can read it at any moment.
class EventLog {
  public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    std::string Open(const std::string& path); // empty on success
    // fields: "ev=... key=value ..."; the time stamp is put in front.
    void Write(const std::string& fields);

  private:
    std::FILE* m_file = nullptr;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace vscope
