#include "CaptureCommand.h"

#include "BitmapWriter.h"
#include "BridgeListing.h"
#include "ExitCodes.h"
#include "ImageSaver.h"
#include "Interrupt.h"

#include <QBuffer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace scopectl {

namespace {
constexpr int kTick = 1;

// The format asked for; without one, a chosen path ending in ".png" asks for PNG.
std::string Extension(const CaptureOptions& options) {
    if (!options.formatGiven && !options.output.empty() &&
        PictureFile::WithExtension(options.output, "png") == options.output)
        return "png";
    return options.format;
}
} // namespace

CaptureCommand::CaptureCommand(CaptureOptions options)
    : m_options(std::move(options)), m_extension(Extension(m_options)),
      m_files(m_options.output, m_extension, m_options.count),
      m_receiver(m_state, m_driver, m_canvas, *this, m_clock) {
    static_cast<usbdriver::DriverOperations&>(m_driver) = usbdriver::LinkedDriverOperations();
}

CaptureCommand::~CaptureCommand() {
    if (m_state.m_driverHandle != nullptr)
        m_driver.m_close(m_state.m_driverHandle);
}

void CaptureCommand::InvalidateWindow() {
    m_drawn = true;
    // One frame per picture: no new request behind it.
    m_receiver.StopCapture();
}

bool CaptureCommand::OpenScope() {
    const std::vector<usbdriver::BridgeStatus> bridges = usbdriver::ListBridges();
    if (static_cast<int>(bridges.size()) <= m_options.device) {
        std::fprintf(stderr, "scopectl: capture: no scope found: %zu bridge%s attached, none numbered %d\n",
                     bridges.size(), bridges.size() == 1 ? "" : "s", m_options.device);
        return false;
    }
    m_reopener.Opened();
    if (m_driver.m_open(m_options.device, &m_state.m_driverHandle) != FT_OK) {
        // The driver has said why on standard error.
        m_state.m_driverHandle = nullptr;
        std::fprintf(stderr, "scopectl: capture: bridge %d cannot be opened\n", m_options.device);
        return false;
    }
    m_canvas.CreateCanvas();
    return true;
}

int CaptureCommand::TakePicture() {
    m_drawn = false;
    const std::uint32_t start = m_clock.TickCount();
    m_receiver.StartRealTime();
    m_timers.Start(kTick, 1, appsupport::WindowTimers::Kind::Repeating);
    while (!m_drawn) {
        m_timers.Wait();
        if (Interrupted())
            return kExitInterrupted;
        if (m_reopener.Due())
            m_reopener.Reopen(m_options.device);
        m_receiver.ReceiveFrame();
        if (!m_drawn && m_clock.TickCount() - start >= kPictureTimeoutMs) {
            std::fprintf(stderr,
                         "scopectl: capture: no complete picture came from the scope within %u s; check that "
                         "it shows its screen (not its boot loader) and that the cable is plugged in\n",
                         kPictureTimeoutMs / 1000);
            return kExitFailed;
        }
    }
    m_timers.Stop(kTick);
    return kExitDone;
}

QByteArray CaptureCommand::PictureBytes() const {
    const QImage picture = capture::ImageSaver::SavedPicture(m_canvas, m_options.zoom == 2 ? 1 : 0);
    if (m_extension == "bmp")
        return capture::BitmapFileBytes(picture, {0, 0, picture.width(), picture.height()}, 32);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG"))
        return {};
    return png;
}

int CaptureCommand::WritePicture(int number) {
    const QByteArray bytes = PictureBytes();
    std::string path;
    std::string reason = "the picture could not be encoded";
    const PictureFile::Written written = bytes.isEmpty()
                                             ? PictureFile::Written::Failed
                                             : m_files.Write(number, bytes, m_options.force, &path, &reason);
    if (written == PictureFile::Written::Exists) {
        std::fprintf(stderr, "scopectl: capture: %s already exists; add --force to replace it\n",
                     path.c_str());
        return kExitUsage;
    }
    if (written == PictureFile::Written::Failed) {
        std::fprintf(stderr, "scopectl: capture: the picture could not be saved to %s: %s\n", path.c_str(),
                     reason.c_str());
        return kExitFailed;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return kExitDone;
}

bool CaptureCommand::WaitUntil(std::int64_t dueNs) {
    const int periodMs =
        static_cast<int>(std::max<std::int64_t>(0, (dueNs - StepTimers::NowNs()) / 1'000'000));
    m_timers.Start(kTick, periodMs, appsupport::WindowTimers::Kind::Once);
    m_timers.Wait();
    m_timers.Stop(kTick);
    return !Interrupted();
}

int CaptureCommand::Run() {
    // Chosen names are checked before the scope is asked: nothing is taken
    // that could not be written.
    if (!m_files.Automatic() && !m_options.force) {
        for (int number = 1; number <= m_options.count; ++number) {
            const std::string path = m_files.ChosenName(number);
            if (std::filesystem::symlink_status(path).type() != std::filesystem::file_type::not_found) {
                std::fprintf(stderr, "scopectl: capture: %s already exists; add --force to replace it\n",
                             path.c_str());
                return kExitUsage;
            }
        }
    }
    if (!m_files.Automatic() && std::filesystem::is_directory(m_options.output)) {
        std::fprintf(stderr, "scopectl: capture: %s is a folder; give a file name after -o\n",
                     m_options.output.c_str());
        return kExitUsage;
    }
    if (!OpenScope())
        return kExitNoScope;
    const std::int64_t first = StepTimers::NowNs();
    for (int number = 1; number <= m_options.count; ++number) {
        const auto offset =
            static_cast<std::int64_t>(std::llround(m_options.intervalSeconds * 1e9)) * (number - 1);
        if (number > 1 && !WaitUntil(first + offset))
            return kExitInterrupted;
        if (const int status = TakePicture(); status != kExitDone)
            return status;
        if (const int status = WritePicture(number); status != kExitDone)
            return status;
    }
    return kExitDone;
}

} // namespace scopectl
