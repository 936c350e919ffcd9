/*
 * C interface of the USB serial bridge driver: the D2XX operations that the
 * scope programs use, with the library's usual types and status values.
 * Our Linux library (libftd2xx.so) exports exactly these names with C linkage,
 * so it and the bridge maker's own Linux library can stand in for each other.
 */
#ifndef USBDRIVER_FTD2XX_H
#define USBDRIVER_FTD2XX_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int DWORD;
typedef unsigned int ULONG;
typedef unsigned short USHORT;
typedef unsigned char UCHAR;
typedef void* PVOID;
typedef void* LPVOID;
typedef DWORD* LPDWORD;

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

/* Status values. 0 is success; callers interpret no other value. */
enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
    FT_DEVICE_LIST_NOT_READY = 19
};

/* FT_ListDevices flags. */
#define FT_LIST_NUMBER_ONLY 0x80000000u
#define FT_LIST_BY_INDEX 0x40000000u
#define FT_LIST_ALL 0x20000000u
#define FT_OPEN_BY_SERIAL_NUMBER 1u
#define FT_OPEN_BY_DESCRIPTION 2u

/* FT_Purge mask bits. */
#define FT_PURGE_RX 1u
#define FT_PURGE_TX 2u

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle);
FT_STATUS FT_Close(FT_HANDLE ftHandle);
FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags);
FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes);
FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten);
FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned);
FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask);
FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize);

#ifdef __cplusplus
}
#endif

#endif
