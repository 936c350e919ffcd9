#include "FirmwareImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

// Reads exactly count bytes; false on an error or an early end of file.
bool ReadAll(int fd, std::uint8_t* to, std::size_t count) {
    while (count > 0) {
        const ssize_t got = ::read(fd, to, count);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}
} // namespace

FirmwareImage::FirmwareImage() : m_image(new std::uint8_t[kBufferSize]) {
    std::memset(m_image.get(), kInitialFill, kBufferSize);
    m_image[0] = 0;
}

ImageLoad FirmwareImage::LoadImage(const std::string& path) {
    ImageLoad result;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return result;
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        result.outcome = ImageLoad::Outcome::ReadFailed;
        return result;
    }
    const long long length = info.st_size;
    result.fileLength = length;
    if (length >= kFileLimit) {
        result.outcome = ImageLoad::Outcome::TooLong;
        return result;
    }
    // Read beside the buffer first, so that a failed read leaves the image
    // loaded earlier, and its padding, exactly as it was.
    std::vector<std::uint8_t> content(static_cast<std::size_t>(length));
    if (!ReadAll(file.Get(), content.data(), content.size())) {
        result.outcome = ImageLoad::Outcome::ReadFailed;
        return result;
    }
    if (!content.empty())
        std::memcpy(m_image.get(), content.data(), content.size());
    m_imageLength = static_cast<std::int32_t>((length / kBlockSize + 1) * kBlockSize);
    result.outcome = ImageLoad::Outcome::Loaded;
    result.sizeText = SizeText(length);
    return result;
}

void FirmwareImage::ClearImage() {
    m_image[0] = 0;
    m_imageLength = 0;
}

std::string FirmwareImage::SizeText(long long length) {
    char text[48];
    if (length >= 1000000)
        std::snprintf(text, sizeof text, "%lld,%03lld,%03lld Bytes", length / 1000000, (length / 1000) % 1000,
                      length % 1000);
    else
        std::snprintf(text, sizeof text, "%lld,%03lld Bytes", length / 1000, length % 1000);
    return text;
}

const std::uint8_t* FirmwareImage::Block(int index) const {
    if (index < 0 || index >= kBlockCount)
        return nullptr;
    return m_image.get() + static_cast<std::size_t>(index) * kBlockSize;
}
