#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vscope {

// The boot loader's flash: sectors of blocksPerSector blocks of 2048 bytes.
// Erased bytes read 0xFF; a block may only be programmed while it is erased.
class FlashModel {
  public:
    static constexpr std::size_t kBlockSize = 2048;
    static constexpr std::uint8_t kErased = 0xFF;

    enum class Fill { Erased, Old };
    enum class Result { Ok, OutOfRange, NotErased, NotBlank, WrongLength };

    FlashModel(unsigned blocksPerSector, unsigned sectorCount, Fill initial);

    unsigned BlocksPerSector() const { return m_blocksPerSector; }
    unsigned SectorCount() const { return m_sectorCount; }

    Result EraseSector(unsigned sector);
    Result BlankCheck(unsigned sector) const;
    Result ProgramBlock(unsigned block, const std::uint8_t* data, std::size_t length);

    // Writes the whole flash to path through a temporary file in the same
    // folder, so a reader never sees a half-written file. Empty on success,
    // else a description of what went wrong.
    std::string WriteFile(const std::string& path) const;

  private:
    bool IsErased(std::size_t offset, std::size_t length) const;

    unsigned m_blocksPerSector;
    unsigned m_sectorCount;
    std::vector<std::uint8_t> m_bytes;
};

} // namespace vscope
