// Must not compile: the programs' targets do not see the driver library's
// inner headers.
#include "CaptureDialog.h"
#include "LoaderDialog.h"
#include "OpenDevice.h"

int main() {
    return 0;
}
