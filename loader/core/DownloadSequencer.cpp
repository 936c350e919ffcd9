#include "DownloadSequencer.h"

#include "BootPacket.h"
#include "LoaderControls.h"
#include "LoaderTexts.h"
#include "TransferStatistics.h"

#include <algorithm>

namespace loader {

using namespace controls;
using namespace steps;

DownloadSequencer::DownloadSequencer(ScopeLink& link, appsupport::WindowTimers& timers,
                                     appsupport::Clock& clock, LoaderView& view, LoaderPrompts& prompts,
                                     DownloadActivity* activity)
    : m_link(link), m_timers(timers), m_clock(clock), m_view(view), m_prompts(prompts), m_activity(activity) {
}

void DownloadSequencer::SetRunning(bool running) {
    if (running == m_running)
        return;
    m_running = running;
    if (m_activity)
        m_activity->DownloadRunning(running);
}

void DownloadSequencer::Arm(int stepId, int periodMs) {
    m_timers.Start(stepId, periodMs, appsupport::WindowTimers::Kind::Once);
}

void DownloadSequencer::OnLoaderTimer(int id) {
    m_timers.Stop(id);
    switch (id) {
    case kConnectPoll:
        ConnectPoll();
        break;
    case kStartRun:
        StartRun();
        break;
    case kCapacityQuery:
        CapacityQuery();
        break;
    case kEraseSector:
        EraseSector();
        break;
    case kBlankCheck:
        BlankCheck();
        break;
    case kSendData:
        SendData();
        break;
    case kFinish:
        Finish();
        break;
    default:
        break;
    }
}

void DownloadSequencer::ConnectPoll() {
    m_view.SetText(kStatus, m_link.DeviceCountText());
    const int result = m_link.Connect();
    if (result == ScopeLink::kReady) {
        BootLoaderAnswered();
    } else if (result == ScopeLink::kNotYet) {
        Arm(kConnectPoll, kPollMs);
    } else {
        m_prompts.ShowMessage(texts::kEnvironmentProblem);
        m_prompts.EndDialog(LoaderPrompts::DialogEnd::Ok);
    }
}

void DownloadSequencer::OnConnect() {
    const int result = m_link.Connect();
    if (result == ScopeLink::kReady) {
        m_timers.Stop(kConnectPoll);
        BootLoaderAnswered();
    } else if (result == ScopeLink::kGiveUp) {
        m_prompts.ShowMessage(texts::kEnvironmentProblem);
        m_prompts.EndDialog(LoaderPrompts::DialogEnd::Ok);
    }
}

void DownloadSequencer::BootLoaderAnswered() {
    m_view.SetText(kStatus, texts::kReady);
    m_view.EnableButton(kConnect, false);
    if (T() == 0)
        OnOpenBin();
    Arm(kStartRun, kNextMs);
}

void DownloadSequencer::StartRun() {
    if (T() == 0) {
        m_view.EnableButton(kConnect, true);
        return;
    }
    m_downloadActive = true;
    SetRunning(true);
    m_startTick = m_clock.TickCount();
    Arm(kCapacityQuery, kNextMs);
}

void DownloadSequencer::CapacityQuery() {
    if (m_link.QueryGeometry() != 0) {
        Arm(kEraseSector, kNextMs);
        return;
    }
    ++m_errorCount;
    if (m_errorCount > kErrorBudget) {
        SetRunning(false);
        m_prompts.ShowMessage(texts::kFileMismatch);
        return;
    }
    Arm(kCapacityQuery, kRetryMs);
}

void DownloadSequencer::EraseSector() {
    const int s = m_sectorIndex;
    const int n = std::min(T() - P() * s, P());
    m_view.SetBarRange(kSectorBar, 0, n + kBlankCheckedMark);
    m_view.SetBarPosition(kSectorBar, 0);
    m_view.SetText(kStatus, texts::kErase);
    if (m_link.EraseSector(s) != BootPacket::kAcknowledged) {
        StepFailed(kEraseSector);
        return;
    }
    m_view.SetBarPosition(kSectorBar, kErasedMark);
    Arm(kBlankCheck, kNextMs);
    UpdateStatistics();
}

void DownloadSequencer::BlankCheck() {
    m_view.SetText(kStatus, texts::kBlank);
    if (m_link.BlankCheck(m_sectorIndex) != BootPacket::kAcknowledged) {
        StepFailed(kBlankCheck);
        return;
    }
    m_view.SetBarPosition(kSectorBar, kBlankCheckedMark);
    ++m_sectorIndex;
    Arm(kSendData, kNextMs);
    UpdateStatistics();
}

void DownloadSequencer::SendData() {
    const int b = m_blockIndex;
    m_view.SetText(kStatus, texts::kSendData);
    if (m_link.SendData(b) != BootPacket::kAcknowledged) {
        StepFailed(kSendData);
        return;
    }
    const int p = P();
    // A geometry of 0 blocks per sector never passes the capacity query with an
    // image loaded; the guard only keeps the arithmetic defined.
    m_view.SetBarPosition(kSectorBar, (p > 0 ? b % p : 0) + kBlankCheckedMark);
    m_view.SetBarPosition(kTotalBar, b);
    m_blockIndex = b + 1;
    if (b + 1 > T())
        Arm(kFinish, kNextMs);
    else if (p > 0 && (b + 1) % p == 0)
        Arm(kEraseSector, kNextMs);
    else
        Arm(kSendData, kNextMs);
    UpdateStatistics();
}

void DownloadSequencer::StepFailed(int stepId) {
    ++m_errorCount;
    m_view.SetText(kErrorCount, TransferStatistics::ErrorCountText(m_errorCount));
    if (m_errorCount > kErrorBudget) {
        SetRunning(false);
        m_prompts.ShowMessage(texts::kServiceProblem);
        UpdateStatistics();
        return;
    }
    Arm(stepId, kRetryMs);
    UpdateStatistics();
}

void DownloadSequencer::Finish() {
    m_link.EndDownload();
    SetRunning(false);
    m_view.SetText(kStatus, texts::kFinished);
    if (m_prompts.RunFinishDialog() == LoaderPrompts::FinishChoice::Continue) {
        Arm(kConnectPoll, kPollMs);
        ResetWindow();
        m_link.ClearImage();
    } else {
        m_prompts.EndDialog(LoaderPrompts::DialogEnd::Cancel);
    }
}

void DownloadSequencer::UpdateStatistics() {
    const auto elapsed = static_cast<std::int32_t>(m_clock.TickCount() - m_startTick);
    const TransferStatistics s = TransferStatistics::Compute(elapsed, m_blockIndex, m_imageBlocks);
    m_view.SetText(kElapsedTime, s.elapsedText);
    m_view.SetText(kEstimatedTime, s.estimatedText);
    m_view.SetText(kTransferRate, s.rateText);
}

void DownloadSequencer::ResetWindow() {
    m_view.SetText(kFileName, texts::kNotSelected);
    m_view.SetText(kFileSize, texts::kUnknown);
    m_view.SetText(kErrorCount, texts::kZeroErrors);
    m_view.SetText(kEstimatedTime, texts::kZeroTime);
    m_view.SetText(kElapsedTime, texts::kZeroTime);
    m_view.SetText(kTransferRate, texts::kZeroRate);
    m_view.SetText(kStatus, texts::kNotConnected);
    Arm(kConnectPoll, kPollMs);
    m_errorCount = 0;
    m_sectorIndex = 0;
    m_blockIndex = 0;
    m_view.SetBarPosition(kSectorBar, 0);
    m_view.SetBarPosition(kTotalBar, 0);
    m_view.EnableButton(kConnect, true);
    m_view.EnableButton(kOpenBin, true);
    m_downloadActive = false;
}

void DownloadSequencer::OnOpenBin() {
    // The poll can find the boot loader while the selection is open (the
    // prompts open no second one on top of it); the image must not change
    // once the download has started.
    if (m_downloadActive)
        return;
    const std::optional<std::string> path = m_prompts.ChooseFile();
    if (!path || m_downloadActive)
        return;
    const ImageLoad load = m_link.LoadImage(*path);
    if (load.outcome == ImageLoad::Outcome::TooLong) {
        m_prompts.ShowMessage(texts::kFileTooLong);
        return;
    }
    if (load.outcome == ImageLoad::Outcome::NotRegular) {
        m_prompts.ShowMessage(*path + texts::kFileNotRegular);
        return;
    }
    if (load.outcome == ImageLoad::Outcome::ReadFailed) {
        m_prompts.ShowMessage(texts::kFileUnreadable);
        return;
    }
    m_view.SetText(kFileName, *path);
    m_view.SetText(kFileSize, load.sizeText);
    m_view.EnableButton(kOpenBin, false);
    m_imageBlocks = T();
    m_view.SetBarRange(kTotalBar, 0, T());
}

void DownloadSequencer::OnExit() {
    if (m_blockIndex != 0 && m_blockIndex > T()) {
        m_prompts.EndDialog(LoaderPrompts::DialogEnd::Cancel);
        return;
    }
    if (m_prompts.AskYesNo(texts::kQuitQuestion)) {
        SetRunning(false);
        m_prompts.EndDialog(LoaderPrompts::DialogEnd::Cancel);
    }
}

} // namespace loader
