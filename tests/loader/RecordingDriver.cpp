#include "RecordingDriver.h"

namespace loadertest {

namespace {
void Note(std::string call) {
    RecordedCalls().push_back(std::move(call));
}

FT_STATUS Open(int device, FT_HANDLE* handle) {
    Note("Open " + std::to_string(device));
    return FT_Open(device, handle);
}
FT_STATUS Close(FT_HANDLE handle) {
    Note("Close");
    return FT_Close(handle);
}
FT_STATUS List(PVOID a, PVOID b, DWORD flags) {
    Note(flags == FT_LIST_NUMBER_ONLY && b == nullptr ? "ListDevices number-only" : "ListDevices other");
    return FT_ListDevices(a, b, flags);
}
FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) {
    Note("Write " + std::to_string(count));
    return FT_Write(handle, buffer, count, written);
}
FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received) {
    Note("Read " + std::to_string(count));
    return FT_Read(handle, buffer, count, received);
}
FT_STATUS Reset(FT_HANDLE handle) {
    Note("ResetDevice");
    return FT_ResetDevice(handle);
}
FT_STATUS Purge(FT_HANDLE handle, ULONG mask) {
    Note("Purge " + std::to_string(mask));
    return FT_Purge(handle, mask);
}
FT_STATUS Timeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    Note("SetTimeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
    return FT_SetTimeouts(handle, readMs, writeMs);
}
FT_STATUS Sizes(FT_HANDLE handle, ULONG in, ULONG out) {
    Note("SetUSBParameters " + std::to_string(in) + " " + std::to_string(out));
    return FT_SetUSBParameters(handle, in, out);
}
} // namespace

std::vector<std::string>& RecordedCalls() {
    static std::vector<std::string> calls;
    return calls;
}

const DriverCalls& RecordingDriver() {
    static const DriverCalls table = {Open, Close, List, Write, Read, Reset, Purge, Timeouts, Sizes};
    return table;
}

} // namespace loadertest
