#include "FirmwareImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace loader {

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

// Reads up to limit bytes, to the end of the file: the size a file system
// reports is not trusted (files under /proc report 0). False on an error.
bool ReadToEnd(int fd, std::vector<std::uint8_t>& content, std::size_t limit) {
    constexpr std::size_t kChunk = 64 * 1024;
    for (;;) {
        const std::size_t had = content.size();
        if (had >= limit)
            return true;
        content.resize(std::min(limit, had + kChunk));
        const ssize_t got = ::read(fd, content.data() + had, content.size() - had);
        if (got < 0 && errno == EINTR) {
            content.resize(had);
            continue;
        }
        if (got < 0)
            return false;
        content.resize(had + static_cast<std::size_t>(got));
        if (got == 0)
            return true;
    }
}
} // namespace

FirmwareImage::FirmwareImage() : m_image(new std::uint8_t[kBufferSize]) {
    std::memset(m_image.get(), kInitialFill, kBufferSize);
    m_image[0] = 0;
}

ImageLoad FirmwareImage::LoadImage(const std::string& path) {
    ImageLoad result;
    // Only a regular file is an image. The type is looked at before opening, so
    // that a FIFO never blocks and a device is never touched, and again on the
    // open file, which is what is read.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        result.outcome = ImageLoad::Outcome::NotRegular;
        return result;
    }
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.Get() < 0)
        return result;
    if (::fstat(file.Get(), &info) != 0) {
        result.outcome = ImageLoad::Outcome::ReadFailed;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.outcome = ImageLoad::Outcome::NotRegular;
        return result;
    }
    if (info.st_size >= kFileLimit) {
        result.fileLength = info.st_size;
        result.outcome = ImageLoad::Outcome::TooLong;
        return result;
    }
    // Read beside the buffer first, so that a failed read leaves the image
    // loaded earlier, and its padding, exactly as it was.
    std::vector<std::uint8_t> content;
    content.reserve(static_cast<std::size_t>(info.st_size));
    if (!ReadToEnd(file.Get(), content, static_cast<std::size_t>(kFileLimit))) {
        result.outcome = ImageLoad::Outcome::ReadFailed;
        return result;
    }
    const long long length = static_cast<long long>(content.size());
    result.fileLength = length;
    if (length >= kFileLimit) {
        result.outcome = ImageLoad::Outcome::TooLong;
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

} // namespace loader
