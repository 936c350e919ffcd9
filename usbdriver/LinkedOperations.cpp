#include "DriverOperations.h"

namespace usbdriver {

const DriverOperations& LinkedDriverOperations() {
    static const DriverOperations linked = {
        FT_Open, FT_Close,       FT_ListDevices, FT_GetQueueStatus, FT_Write,
        FT_Read, FT_ResetDevice, FT_Purge,       FT_SetTimeouts,    FT_SetUSBParameters};
    return linked;
}

} // namespace usbdriver
