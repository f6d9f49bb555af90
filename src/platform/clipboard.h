#ifndef ORVO_PLATFORM_CLIPBOARD_H_
#define ORVO_PLATFORM_CLIPBOARD_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The system clipboard, read as one snapshot per request.
//
// A snapshot asks the clipboard's owner once which targets it offers (media types such as
// "text/html", "image/png", "text/uri-list", and names such as "UTF8_STRING", "STRING") and
// then converts each target the caller asks for at the same moment in the clipboard's history:
// when another program takes the clipboard in between, later reads fail instead of mixing two
// copies in one answer.
//
// Every wait for the owner has a time limit: an owner that never answers or vanishes during a
// transfer costs at most the limit, then the read (and every later read of the snapshot) fails.
// Without a display (no DISPLAY, or the server is gone) a snapshot is empty; nothing crashes or
// blocks.
//
// The clipboard is read on X11 or, where the compositor offers a data-control protocol, on
// Wayland; the back end is chosen once per process (ChooseClipboardBackend).
//
// A snapshot holds its own connection (on X11 also its own requestor window), so concurrent
// requests never share a window, a property or a pipe. One snapshot is used by one thread.
// Receives a target's bytes while they arrive, for callers that work on the first pieces of a
// large transfer while the rest is still on its way.
class ClipboardSink {
 public:
  virtual ~ClipboardSink() = default;
  // About `bytes` more are on their way, as the owner announced (it may send more or fewer).
  virtual void Expect(size_t bytes) = 0;
  // The target's next bytes, in order.
  virtual void Append(std::string_view piece) = 0;
};

class ClipboardSnapshot {
 public:
  virtual ~ClipboardSnapshot() = default;

  // The targets offered when the snapshot was taken, in the owner's order, without the
  // protocol's own ("TARGETS", "TIMESTAMP", "MULTIPLE", ...). Empty for an empty clipboard.
  virtual const std::vector<std::string>& Targets() const = 0;

  // Converts target and stores the owner's bytes in *data (a std::string: its length, then a
  // closing 0). False, with *data emptied, when the target is not offered, the owner refuses
  // or does not answer in time, the transfer breaks off, or the clipboard changed owner since
  // the snapshot was taken. Transfers in pieces of any total size are put together.
  virtual bool Read(std::string_view target, std::string* data) = 0;

  // Read, with the bytes handed to *sink as they arrive (on this thread, between the waits for
  // the owner) instead of at the end: the same failures and limits; after a failure the sink
  // may have had part of the bytes. A back end that reads in one piece hands that piece.
  virtual bool ReadInto(std::string_view target, ClipboardSink* sink);

  // Whether target is among Targets(), compared exactly.
  bool Offers(std::string_view target) const;
};

// The longest a snapshot waits for one answer of the clipboard's owner.
inline constexpr std::chrono::milliseconds kClipboardWaitLimit{2000};

// The most bytes one target may bring: an owner that sends more (or pieces without end) makes
// the read fail once past it, so one owner cannot fill the service's memory.
inline constexpr size_t kClipboardTargetLimit = size_t{256} << 20;

// The longest a whole snapshot may take, from taking it to its last read: an owner that
// answers just inside each wait but never finishes still releases the request by then.
inline constexpr std::chrono::seconds kClipboardSnapshotTimeLimit{30};

enum class ClipboardBackend { kNone, kX11, kWayland };

// Chooses where this process reads the clipboard, once: Wayland when WAYLAND_DISPLAY names a
// compositor that offers a data-control protocol (whether or not DISPLAY is set too, as on
// desktops with XWayland), else X11 when DISPLAY is set, else none (an empty clipboard). Asking
// the compositor waits at most wait_limit. Logs one line with the choice. Later calls return the
// first choice at once. Thread-safe.
ClipboardBackend ChooseClipboardBackend(std::chrono::milliseconds wait_limit = kClipboardWaitLimit);

// Takes a snapshot of the system clipboard through the chosen back end (choosing it first when
// nothing has chosen yet). Never null: an empty snapshot when there is no display or no owner.
// Thread-safe.
std::unique_ptr<ClipboardSnapshot> TakeClipboardSnapshot(
    std::chrono::milliseconds wait_limit = kClipboardWaitLimit);

// The same through the given back end, whatever was chosen.
std::unique_ptr<ClipboardSnapshot> TakeClipboardSnapshot(
    ClipboardBackend backend, std::chrono::milliseconds wait_limit = kClipboardWaitLimit);

#endif  // ORVO_PLATFORM_CLIPBOARD_H_
