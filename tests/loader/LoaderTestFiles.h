// Files, images and virtual-scope options shared by the loader tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace loadertest {

// A folder of its own for one test, removed with it.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string Path(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// Bytes that differ from block to block and contain 0x02, 0x03 and 0xFF.
std::vector<std::uint8_t> Pattern(std::size_t length, unsigned seed);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// Boot-loader firmware with the given geometry and no link delays.
std::vector<std::string> BootLoaderOptions(int blocksPerSector, int sectors, const std::string& flashFile,
                                           std::vector<std::string> extra = {});

// Waits (up to 5 s) until device 0 is listed but cannot be opened: a --busy
// virtual scope may publish its link a moment before it takes its lock.
bool WaitUntilDeviceIsBusy();

// Commands received by the virtual scope, in order, as "FE:3" (code:address), "screen" or "hello".
std::vector<std::string> CommandsInLog(const std::vector<std::string>& logLines);

} // namespace loadertest
