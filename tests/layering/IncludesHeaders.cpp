// Compiles for a program's target with the public driver headers; with one of the driver
// library's inner headers as well (SCOPE_PROBE_INNER_HEADER) it must not.
#include "CaptureDialog.h"
#include "DriverLibrary.h"
#include "DriverOperations.h"
#include "LoaderDialog.h"
#include "ftd2xx.h"
#ifdef SCOPE_PROBE_INNER_HEADER
#include "OpenDevice.h"
#endif

int main() {
    return 0;
}
