// The firmware image held for download: a fixed 8 MiB buffer of 4096 blocks of
// 2048 bytes, and the padded length of the file loaded into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace loader {

struct ImageLoad {
    enum class Outcome {
        Loaded,     // the image and its length were replaced
        OpenFailed, // the file could not be opened: nothing changed, empty size text
        TooLong,    // the file does not fit: nothing changed
        ReadFailed, // opened but not read completely: nothing changed
        NotRegular  // a FIFO, device, directory or socket: not read, nothing changed
    };
    Outcome outcome = Outcome::OpenFailed;
    std::string sizeText;      // only for Loaded
    long long fileLength = -1; // known from TooLong on
};

class FirmwareImage {
  public:
    static constexpr int kBlockSize = 2048;
    static constexpr int kBlockCount = 4096;
    static constexpr int kBufferSize = kBlockSize * kBlockCount;
    // The sequencer also sends the block just past the padded image, so that
    // block must still lie in the buffer: only files shorter than 4095 blocks.
    static constexpr long long kFileLimit = static_cast<long long>(kBlockCount - 1) * kBlockSize;
    // Erased flash reads 0xFF, so padding that no file ever wrote programs nothing.
    static constexpr std::uint8_t kInitialFill = 0xFF;

    // Throws std::bad_alloc when the buffer cannot be obtained: no link without it.
    FirmwareImage();

    ImageLoad LoadImage(const std::string& path);
    void ClearImage();

    // "%d,%03d Bytes" or "%d,%03d,%03d Bytes", comma grouping whatever the locale.
    static std::string SizeText(long long length);

    int Length() const { return m_imageLength; }
    int Blocks() const { return m_imageLength / kBlockSize; }
    // Null for an index outside the buffer.
    const std::uint8_t* Block(int index) const;
    const std::uint8_t* Data() const { return m_image.get(); }

  private:
    std::unique_ptr<std::uint8_t[]> m_image;
    std::int32_t m_imageLength = 0;
};

} // namespace loader
