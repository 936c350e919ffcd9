#include "RecordingView.h"

#include "LoaderControls.h"

void RecordingView::SetText(int control, const std::string& text) {
    if (control != loader::controls::kStatus)
        return;
    m_status = text;
    // Each connect poll shows the device count first.
    if (text.rfind("Not Connected... 0 device", 0) == 0)
        ++m_emptyPolls;
    else
        m_emptyPolls = 0;
}
