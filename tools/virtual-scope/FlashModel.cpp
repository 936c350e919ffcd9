#include "FlashModel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vscope {

FlashModel::FlashModel(unsigned blocksPerSector, unsigned sectorCount, Fill initial)
    : m_blocksPerSector(blocksPerSector), m_sectorCount(sectorCount),
      m_bytes(std::size_t(blocksPerSector) * sectorCount * kBlockSize, kErased) {
    if (initial == Fill::Old) {
        // A repeating ramp: no block of it is blank, so every sector needs an erase.
        for (std::size_t i = 0; i < m_bytes.size(); ++i)
            m_bytes[i] = std::uint8_t(i & 0xFF);
    }
}

bool FlashModel::IsErased(std::size_t offset, std::size_t length) const {
    return std::all_of(m_bytes.begin() + std::ptrdiff_t(offset),
                       m_bytes.begin() + std::ptrdiff_t(offset + length),
                       [](std::uint8_t b) { return b == kErased; });
}

FlashModel::Result FlashModel::EraseSector(unsigned sector) {
    if (sector >= m_sectorCount)
        return Result::OutOfRange;
    const std::size_t size = std::size_t(m_blocksPerSector) * kBlockSize;
    std::fill_n(m_bytes.begin() + std::ptrdiff_t(sector * size), size, kErased);
    return Result::Ok;
}

FlashModel::Result FlashModel::BlankCheck(unsigned sector) const {
    if (sector >= m_sectorCount)
        return Result::OutOfRange;
    const std::size_t size = std::size_t(m_blocksPerSector) * kBlockSize;
    return IsErased(sector * size, size) ? Result::Ok : Result::NotBlank;
}

FlashModel::Result FlashModel::ProgramBlock(unsigned block, const std::uint8_t* data, std::size_t length) {
    if (length != kBlockSize)
        return Result::WrongLength;
    if (block >= std::size_t(m_blocksPerSector) * m_sectorCount)
        return Result::OutOfRange;
    const std::size_t offset = std::size_t(block) * kBlockSize;
    if (!IsErased(offset, kBlockSize))
        return Result::NotErased;
    std::copy_n(data, kBlockSize, m_bytes.begin() + std::ptrdiff_t(offset));
    return Result::Ok;
}

std::string FlashModel::WriteFile(const std::string& path) const {
    std::string temp = path + ".partial-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return "cannot create a temporary file beside " + path + ": " + std::strerror(errno);
    std::size_t done = 0;
    while (done < m_bytes.size()) {
        const ssize_t n = write(fd, m_bytes.data() + done, m_bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string why = std::strerror(errno);
            close(fd);
            unlink(temp.c_str());
            return "cannot write the flash contents to " + temp + ": " + why;
        }
        done += std::size_t(n);
    }
    fchmod(fd, 0644);
    if (close(fd) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temp.c_str());
        return "cannot finish writing " + temp + ": " + why;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temp.c_str());
        return "cannot move the flash file into place at " + path + ": " + why;
    }
    return {};
}

} // namespace vscope
