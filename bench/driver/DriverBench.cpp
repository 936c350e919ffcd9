// Measures the driver library over the virtual scope at its default link
// model: the number-only listing that the capture program makes on every
// tick, a boot-loader command/reply round trip and a screen frame round trip.
// Prints a table of microseconds; starts and stops the virtual scope itself.
#include "ScopeLauncher.h"
#include "ftd2xx.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double mean = 0;
    double median = 0;
    double max = 0;
};

Figures Summarise(std::vector<double> samples) {
    Figures figures;
    if (samples.empty())
        return figures;
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (double sample : samples)
        sum += sample;
    figures.mean = sum / static_cast<double>(samples.size());
    figures.median = samples[samples.size() / 2];
    figures.max = samples.back();
    return figures;
}

double Microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

void PrintRow(const char* what, size_t rounds, const Figures& figures) {
    std::printf("%-52s %8zu %10.2f %10.2f %10.2f\n", what, rounds, figures.mean, figures.median, figures.max);
}

DWORD Count() {
    DWORD count = 0;
    FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    return count;
}

bool WaitForDevices(DWORD expected) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Count() != expected)
        if (Clock::now() > deadline)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

// The virtual scope with the options, once the listing counts it; null when it did not start.
std::unique_ptr<scopelauncher::ScopeLauncher> StartScope(const std::vector<std::string>& options) {
    auto scope = std::make_unique<scopelauncher::ScopeLauncher>();
    std::string error = scope->Start(options);
    if (error.empty() && !WaitForDevices(1))
        error = "the listing does not count the virtual scope";
    if (error.empty())
        return scope;
    std::fprintf(stderr, "driver-bench: %s\n", error.c_str());
    return nullptr;
}

Figures ListingCost(size_t rounds, size_t callsPerRound) {
    std::vector<double> samples;
    for (size_t round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        for (size_t call = 0; call < callsPerRound; ++call)
            Count();
        samples.push_back(Microseconds(Clock::now() - start) / static_cast<double>(callsPerRound));
    }
    return Summarise(samples);
}

bool HelloRoundTrips(size_t rounds, Figures& figures) {
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK)
        return false;
    FT_SetTimeouts(handle, 2000, 1000);
    std::vector<double> samples;
    for (size_t round = 0; round < rounds; ++round) {
        uint8_t hello[] = {0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x03};
        uint8_t reply[6] = {};
        DWORD written = 0;
        DWORD got = 0;
        const auto start = Clock::now();
        FT_Write(handle, hello, sizeof hello, &written);
        FT_Read(handle, reply, sizeof reply, &got);
        samples.push_back(Microseconds(Clock::now() - start));
        if (got != 6 || reply[2] != 'B') {
            std::fprintf(stderr, "driver-bench: hello %zu answered with %u bytes\n", round, got);
            FT_Close(handle);
            return false;
        }
    }
    FT_Close(handle);
    figures = Summarise(samples);
    return true;
}

// As the capture program does it: request, poll the queue until the whole
// frame is there, then read it one byte at a time.
bool FrameRoundTrips(size_t rounds, Figures& trip, Figures& byteRead) {
    FT_HANDLE handle = nullptr;
    if (FT_Open(0, &handle) != FT_OK)
        return false;
    std::vector<double> trips;
    std::vector<double> bytes;
    std::vector<uint8_t> frame(8410);
    for (size_t round = 0; round < rounds; ++round) {
        uint8_t request[] = {0x51, 0x42, 0x0D};
        DWORD written = 0;
        const auto start = Clock::now();
        FT_Write(handle, request, sizeof request, &written);
        DWORD queued = 0;
        const auto deadline = start + std::chrono::seconds(2);
        while (queued < frame.size() && Clock::now() < deadline)
            if (FT_GetQueueStatus(handle, &queued) != FT_OK)
                break;
        if (queued != frame.size()) {
            std::fprintf(stderr, "driver-bench: frame %zu: %u bytes queued\n", round, queued);
            FT_Close(handle);
            return false;
        }
        const auto readStart = Clock::now();
        for (uint8_t& byte : frame) {
            DWORD got = 0;
            FT_Read(handle, &byte, 1, &got);
        }
        const auto end = Clock::now();
        trips.push_back(Microseconds(end - start));
        bytes.push_back(Microseconds(end - readStart) / static_cast<double>(frame.size()));
    }
    FT_Close(handle);
    trip = Summarise(trips);
    byteRead = Summarise(bytes);
    return true;
}

// From the scope's unplug signal until the listing counts no device.
Figures UnplugNoticed(scopelauncher::ScopeLauncher& scope, size_t rounds) {
    std::vector<double> samples;
    for (size_t round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        kill(scope.Pid(), SIGUSR1);
        while (Count() != 0 && Clock::now() - start < std::chrono::seconds(2)) {
        }
        samples.push_back(Microseconds(Clock::now() - start));
        scope.Replug();
        WaitForDevices(1);
    }
    return Summarise(samples);
}

} // namespace

int main() {
    const scopelauncher::PrivateRuntimeDir runtime("driver-bench");
    if (runtime.path.empty()) {
        std::fprintf(stderr, "driver-bench: cannot make a runtime folder\n");
        return 1;
    }
    constexpr size_t kRounds = 200;
    int failures = 0;

    std::printf("driver library over the virtual scope, default link model (1 MB/s, 1 ms latency)\n");
    std::printf("%-52s %8s %10s %10s %10s\n", "microseconds", "rounds", "mean", "median", "max");
    PrintRow("number-only listing, no device (per call)", kRounds, ListingCost(kRounds, 1000));
    {
        const auto scope = StartScope({"--firmware", "bootloader"});
        if (!scope)
            return 1;
        PrintRow("number-only listing, one device (per call)", kRounds, ListingCost(kRounds, 1000));
        Figures hello;
        if (HelloRoundTrips(kRounds, hello))
            PrintRow("hello 7 bytes -> 6-byte reply (boot loader)", kRounds, hello);
        else
            ++failures;
        PrintRow("unplug signal -> listing counts 0", 20, UnplugNoticed(*scope, 20));
    }
    {
        const auto scope = StartScope({"--firmware", "screen"});
        if (!scope)
            return 1;
        Figures trip;
        Figures byteRead;
        if (FrameRoundTrips(kRounds, trip, byteRead)) {
            PrintRow("screen request -> 8410-byte frame read", kRounds, trip);
            PrintRow("one-byte FT_Read from the queue (per byte)", kRounds, byteRead);
        } else {
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
