#include "LoaderTestFiles.h"

#include "UsbPort.h"
#include "VirtualScopeProcess.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace loadertest {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "haldrin-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::uint8_t> Pattern(std::size_t length, unsigned seed) {
    std::vector<std::uint8_t> bytes(length);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(state >> 16);
    }
    for (std::size_t i = 0; i + 2 < length; i += 997) {
        bytes[i] = 0x02;
        bytes[i + 1] = 0x03;
        bytes[i + 2] = 0xFF;
    }
    return bytes;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> BootLoaderOptions(int blocksPerSector, int sectors, const std::string& flashFile,
                                           std::vector<std::string> extra) {
    std::vector<std::string> options = {"--firmware",          "bootloader",
                                        "--blocks-per-sector", std::to_string(blocksPerSector),
                                        "--sectors",           std::to_string(sectors),
                                        "--flash-file",        flashFile,
                                        "--throughput",        "0",
                                        "--latency-ms",        "0",
                                        "--erase-ms",          "0",
                                        "--program-ms",        "0"};
    options.insert(options.end(), extra.begin(), extra.end());
    return options;
}

bool WaitUntilDeviceIsBusy() {
    UsbPort port;
    for (int i = 0; i < 250; ++i) {
        const int opened = port.Open();
        port.Close();
        if (opened == 2)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<std::string> CommandsInLog(const std::vector<std::string>& logLines) {
    std::vector<std::string> commands;
    for (const std::string& line : logLines) {
        if (testsupport::Field(line, "ev") != "cmd")
            continue;
        const std::string code = testsupport::Field(line, "code");
        if (code.empty()) {
            commands.push_back(testsupport::Field(line, "kind"));
            continue;
        }
        // "0xFD" -> "FD"
        std::string name = code.size() > 2 ? code.substr(2) : code;
        if (name == "FF")
            commands.push_back("hello");
        else
            commands.push_back(name + ":" + testsupport::Field(line, "addr"));
    }
    return commands;
}

} // namespace loadertest
