#include "DriverCalls.h"

const DriverCalls& DriverCalls::Linked() {
    static const DriverCalls linked = {FT_Open,        FT_Close, FT_ListDevices, FT_Write,           FT_Read,
                                       FT_ResetDevice, FT_Purge, FT_SetTimeouts, FT_SetUSBParameters};
    return linked;
}
