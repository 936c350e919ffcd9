// What both capture benchmarks measure: the virtual scope's live demo in a
// private runtime folder, and Quorvex's capture logic bound to it by name, with
// the window and its message boxes stood in for.
#pragma once

#include "CaptureLink.h"
#include "FrameReceiver.h"
#include "ScopeLauncher.h"
#include "SteadyClock.h"

#include <cstdio>
#include <string>

struct QuietMessages : appsupport::Messages {
    int shown = 0;
    void ShowMessage(const std::string& text) override {
        ++shown;
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&) override { return false; }
};

struct NoWindow : capture::WindowPort {
    void InvalidateWindow() override {}
};

struct CaptureBenchRig {
    CaptureBenchRig(const char* program, appsupport::WindowTimers& timers)
        : program(program), runtime(program),
          link(state, driver, receiver, canvas, messages, timers, clock, capture::CaptureLink::Binding{}) {}

    // The scope runs and the link is open; otherwise false, with the reason on stderr.
    bool Start() {
        // A private bridge folder: only our virtual scope is device 0.
        const std::string error = runtime.path.empty() ? "no runtime folder" : scope.Start({});
        if (!error.empty())
            std::fprintf(stderr, "%s: %s\n", program, error.c_str());
        return error.empty() && link.OpenLink() == 1;
    }

    const char* program;
    scopelauncher::PrivateRuntimeDir runtime;
    scopelauncher::ScopeLauncher scope;
    capture::DriverTable driver;
    capture::CaptureState state;
    capture::ScreenCanvas canvas;
    QuietMessages messages;
    NoWindow window;
    appsupport::SteadyClock clock;
    capture::FrameReceiver receiver{state, driver, canvas, window, clock};
    capture::CaptureLink link;
};
