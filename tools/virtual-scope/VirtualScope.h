#pragma once

#include "BootLoaderFirmware.h"
#include "BootPacketParser.h"
#include "BridgeLink.h"
#include "EventLog.h"
#include "FaultSchedule.h"
#include "FlashModel.h"
#include "FrameBuilder.h"
#include "Options.h"
#include "OutputPacer.h"
#include "ScreenRequestScanner.h"

#include <csignal>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vscope {

// The device: one thread, one poll loop over the signal descriptor and the
// pseudo-terminal master, with timers for replies, pacing, replug and busy.
class VirtualScope {
  public:
    // Must run before any thread exists (Qt's image scaling starts a pool),
    // so that the control signals reach the loop's signal descriptor and
    // never a thread that would take their default action.
    static bool BlockControlSignals();

    VirtualScope(const Options& options, EventLog& log);
    // Prepares the firmware (loads a picture file, fills the flash). Empty on success.
    std::string Prepare();
    // Runs until SIGINT/SIGTERM; returns the process exit code.
    int Run();

  private:
    struct Pending {
        std::uint64_t n;
        std::int64_t dueUs;
        std::vector<std::uint8_t> reply; // after the fault is applied
        char status;                     // as sent, '-' when none
        Fault fault;
        bool endOfDownload;
        bool firstPart = false; // of a stalled reply: its rest follows later
    };
    struct InFlight {
        char status;
        Fault fault;
    };

    static sigset_t ControlSignals();
    // The steps of Run's loop:
    // blocks the control signals; a descriptor that reads them, or -1.
    int WatchControlSignals();
    // the replug and the end of a busy spell when due; false when a replug failed.
    bool ServeTimers(std::int64_t nowUs);
    // an unplug that waits for the host to read the last reply; true once done.
    bool UnplugOnceDrained(std::int64_t nowUs);
    // steady time of the next timer, or -1 for none.
    std::int64_t NextWakeUs(std::int64_t nowUs) const;
    // sleeps until a signal, a byte from the host, room for output or a timer;
    // these two are false once the scope is to exit.
    bool WaitAndServe(int signalFd, std::int64_t nowUs);
    bool ServeSignals(int signalFd);
    // what the master has: room for output, bytes from the host or a hang-up.
    void ServeMaster(short revents);
    std::int64_t NowUs() const;
    bool Plug();
    void Unplug();
    void ReadMaster();
    void Receive(const std::uint8_t* bytes, std::size_t count);
    void Command(std::uint64_t n, std::vector<std::uint8_t> reply, double deviceMs, bool endOfDownload);
    void ReleaseDue(std::int64_t nowUs);
    void Pump(std::int64_t nowUs);
    void Finished(const std::vector<OutputPacer::Done>& done);
    void LogReply(std::uint64_t n, std::size_t bytes, char status, Fault fault);
    void AfterReply(std::uint64_t n);
    void WriteFlash();
    void Fail(const std::string& what);

    const Options& m_options;
    EventLog& m_log;
    BridgeLink m_link;
    OutputPacer m_pacer;
    ScreenRequestScanner m_scanner;
    BootPacketParser m_parser;
    FrameBuilder m_frames;
    std::unique_ptr<FlashModel> m_flash;
    std::unique_ptr<BootLoaderFirmware> m_bootLoader;

    std::uint64_t m_commands = 0;
    std::uint64_t m_receivedBytes = 0;
    std::int64_t m_busyUntilUs = 0;
    std::deque<Pending> m_pending;
    std::map<std::uint64_t, InFlight> m_inFlight;
    std::int64_t m_replugAtUs = -1;
    std::int64_t m_busyEndUs = -1;
    bool m_firstPlug = true;
    bool m_unplugNow = false;
    std::int64_t m_drainSinceUs = -1; // unplug waits for the host to read the last reply
    bool m_unpluggedByCommands = false;
    bool m_unpluggedByBytes = false;
    bool m_failed = false;
};

} // namespace vscope
