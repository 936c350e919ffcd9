// The guest's steps that talk to the virtual scope on the host through the
// real tty; each returns whether its checks passed.
#pragma once

namespace guest {

// Boot-loader firmware: hello commands and 2048-byte block programs.
bool BootLoaderRoundTrips();
// Asks the host to join the screen firmware instead, then requests frames.
bool ScreenRoundTrips();
// Unplug during a blocked read, then plug in again and reopen.
bool Hotplug();

} // namespace guest
