// Must compile: the programs' targets see the public driver headers, so the
// probe above fails for the inner header alone.
#include "CaptureDialog.h"
#include "DriverLibrary.h"
#include "DriverOperations.h"
#include "LoaderDialog.h"
#include "ftd2xx.h"

int main() {
    return 0;
}
