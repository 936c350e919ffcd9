// The download state machine of the loader window: a chain of one-shot step
// timers, one boot-loader command per tick, from polling for the boot loader
// to the completion dialog, with the shared error budget and the statistics.
#pragma once

#include "Clock.h"
#include "DownloadActivity.h"
#include "LoaderPrompts.h"
#include "LoaderView.h"
#include "ScopeLink.h"
#include "WindowTimers.h"

#include <cstdint>

namespace loader {

class DownloadSequencer {
  public:
    // The sector bar's marks: after the erase, and after the blank check (the
    // blocks of the sector count on from there).
    static constexpr int kErasedMark = 10;
    static constexpr int kBlankCheckedMark = 18;

    // activity: told when the flash is being written; null for nobody.
    DownloadSequencer(ScopeLink& link, appsupport::WindowTimers& timers, appsupport::Clock& clock,
                      LoaderView& view, LoaderPrompts& prompts, DownloadActivity* activity = nullptr);

    void OnLoaderTimer(int id);
    void OnConnect();
    void OnOpenBin();
    void OnExit();
    void ResetWindow();
    void UpdateStatistics();

    std::int32_t ErrorCount() const { return m_errorCount; }
    std::int32_t SectorIndex() const { return m_sectorIndex; }
    std::int32_t BlockIndex() const { return m_blockIndex; }

  private:
    int T() const { return m_link.ImageLength() / FirmwareImage::kBlockSize; }
    int P() const { return m_link.BlocksPerSector(); }

    void Arm(int stepId, int periodMs);
    void ConnectPoll();
    void BootLoaderAnswered();
    void StartRun();
    void CapacityQuery();
    void EraseSector();
    void BlankCheck();
    void SendData();
    void Finish();
    // Counts a failed erase, blank check or data step; retries it or halts.
    void StepFailed(int stepId);
    // Tells the activity port of a change, once.
    void SetRunning(bool running);

    ScopeLink& m_link;
    appsupport::WindowTimers& m_timers;
    appsupport::Clock& m_clock;
    LoaderView& m_view;
    LoaderPrompts& m_prompts;
    DownloadActivity* m_activity;

    std::uint32_t m_startTick = 0;
    std::int32_t m_errorCount = 0;
    std::int32_t m_sectorIndex = 0;
    std::int32_t m_blockIndex = 0;
    std::int32_t m_imageBlocks = 0;

    // The image must not change while this is set.
    bool m_downloadActive = false;
    // The flash is being written: from the start of the run to its end or halt.
    bool m_running = false;
};

} // namespace loader
