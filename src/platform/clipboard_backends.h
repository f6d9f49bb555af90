#ifndef ORVO_PLATFORM_CLIPBOARD_BACKENDS_H_
#define ORVO_PLATFORM_CLIPBOARD_BACKENDS_H_

// For the clipboard implementations in this folder only: each back end's entry, which
// clipboard.cc chooses between.

#include <chrono>
#include <memory>

#include "platform/clipboard.h"

// A snapshot that offers nothing and reads nothing.
std::unique_ptr<ClipboardSnapshot> MakeEmptyClipboardSnapshot();

// The CLIPBOARD selection of the X server named by $DISPLAY (clipboard_x11.cc).
std::unique_ptr<ClipboardSnapshot> TakeX11ClipboardSnapshot(std::chrono::milliseconds wait_limit);

// The selection of the first seat of the compositor named by $WAYLAND_DISPLAY, read through a
// data-control protocol (clipboard_wayland.cc).
std::unique_ptr<ClipboardSnapshot> TakeWaylandClipboardSnapshot(
    std::chrono::milliseconds wait_limit);

// Whether $WAYLAND_DISPLAY names a compositor that answers within wait_limit and offers a
// data-control protocol and a seat; *protocol names the protocol then.
bool WaylandOffersDataControl(std::chrono::milliseconds wait_limit, const char** protocol);

#endif  // ORVO_PLATFORM_CLIPBOARD_BACKENDS_H_
