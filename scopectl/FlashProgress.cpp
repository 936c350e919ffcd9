#include "FlashProgress.h"

#include "FirmwareImage.h"
#include "JsonLine.h"

namespace scopectl {

namespace {
// The terminal line is redrawn at most this often (each data step takes about 5 ms).
constexpr std::int64_t kRedrawMs = 100;

std::string Duration(std::int64_t ms) {
    const std::int64_t seconds = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}
} // namespace

std::int64_t FlashProgress::Rate(const StepReport& step) {
    if (step.elapsedMs <= 0)
        return 0;
    return static_cast<std::int64_t>(step.block) * loader::FirmwareImage::kBlockSize * 1000 / step.elapsedMs;
}

void FlashProgress::Step(const StepReport& step) {
    switch (m_style) {
    case Style::Json:
        std::fprintf(m_out, "%s\n",
                     JsonLine()
                         .Text("phase", step.phase)
                         .Number("sector", step.sector)
                         .Number("block", step.block)
                         .Number("blocks", step.blocks)
                         .Number("errors", step.errors)
                         .Number("rate", Rate(step))
                         .Boolean("ok", !step.failed)
                         .Str()
                         .c_str());
        break;
    case Style::Terminal:
        TerminalLine(step);
        break;
    case Style::Lines:
        PlainLine(step);
        break;
    }
    std::fflush(m_out);
}

void FlashProgress::TerminalLine(const StepReport& step) {
    const bool last = step.block >= step.blocks;
    if (!last && !step.failed && m_lastDrawnMs >= 0 && step.elapsedMs - m_lastDrawnMs < kRedrawMs)
        return;
    m_lastDrawnMs = step.elapsedMs;
    const std::int64_t rate = Rate(step);
    const std::int64_t remainingMs = rate > 0 ? static_cast<std::int64_t>(step.blocks - step.block) *
                                                    loader::FirmwareImage::kBlockSize * 1000 / rate
                                              : 0;
    std::fprintf(m_out,
                 "\r\033[Ksector %d/%d  block %d/%d  %3d%%  %lld B/s  elapsed %s  remaining %s  errors %d",
                 step.sector + 1, step.sectors, step.block, step.blocks,
                 step.blocks > 0 ? step.block * 100 / step.blocks : 0, static_cast<long long>(rate),
                 Duration(step.elapsedMs).c_str(), Duration(remainingMs).c_str(), step.errors);
    m_lineOpen = true;
}

void FlashProgress::PlainLine(const StepReport& step) {
    if (step.failed) {
        std::fprintf(m_out, "%s failed at sector %d, block %d: errors %d\n", step.phase.c_str(),
                     step.sector + 1, step.block, step.errors);
        return;
    }
    if (step.phase != "erase" || step.sector == m_lastSector)
        return;
    m_lastSector = step.sector;
    std::fprintf(m_out, "sector %d/%d erased: block %d/%d, %lld B/s, elapsed %s, errors %d\n",
                 step.sector + 1, step.sectors, step.block, step.blocks, static_cast<long long>(Rate(step)),
                 Duration(step.elapsedMs).c_str(), step.errors);
}

void FlashProgress::Close() {
    if (m_lineOpen)
        std::fputc('\n', m_out);
    m_lineOpen = false;
    std::fflush(m_out);
}

} // namespace scopectl
