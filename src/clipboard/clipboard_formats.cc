#include "clipboard/clipboard_formats.h"

#include <cstdio>
#include <utility>

#include "imaging/dib_data.h"
#include "imaging/image_utils.h"
#include "platform/clipboard.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "workspace/path_macros.h"

namespace {

constexpr std::string_view kStartMarker = "<!--StartFragment-->";
constexpr std::string_view kEndMarker = "<!--EndFragment-->";

// Position of the first "<html" followed by a blank, '>' or '/', in any case; npos if none.
size_t FindHtmlStartTag(std::string_view html) {
  for (size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1)) {
    if (html.size() - at < 6 || !StartsWithIgnoringAsciiCase(html.substr(at), "<html")) continue;
    const char next = html[at + 5];
    if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' || next == '\n' ||
        next == '\f') {
      return at;
    }
  }
  return std::string_view::npos;
}

// The names a format is offered under on this platform, the preferred first (Chromium's
// ClipboardFormatType keeps the same mapping in one place).
struct PlatformNames {
  ClipboardFormat format;
  std::initializer_list<std::string_view> targets;
};

const PlatformNames kPlatformNames[] = {
    {ClipboardFormat::kHtml, {"text/html"}},
    {ClipboardFormat::kUnicodeText, {"UTF8_STRING", "text/plain;charset=utf-8"}},
    {ClipboardFormat::kText, {"STRING"}},
    {ClipboardFormat::kDib, {"image/png", "image/bmp"}},
    {ClipboardFormat::kTiff, {"image/tiff"}},
    {ClipboardFormat::kEnhMetafile, {"image/emf", "image/x-emf"}},
    {ClipboardFormat::kHdrop, {"text/uri-list", "x-special/gnome-copied-files"}},
};

std::string Offset(size_t value) {
  char digits[16];
  snprintf(digits, sizeof digits, "%010zu", value);
  return digits;
}

}  // namespace

std::string MakeCfHtml(std::string_view html) {
  constexpr std::string_view kHead = "<html><body>";
  constexpr std::string_view kTail = "</body></html>";
  const bool whole = FindHtmlStartTag(html) != std::string_view::npos;
  std::string document;
  size_t fragment_start = 0, fragment_end = html.size();
  if (whole) {
    document.assign(html);
    const size_t start = html.find(kStartMarker);
    const size_t end = html.find(kEndMarker);
    if (start != std::string_view::npos && end != std::string_view::npos &&
        start + kStartMarker.size() <= end) {
      fragment_start = start + kStartMarker.size();
      fragment_end = end;
    }
  } else {
    document.reserve(html.size() + 80);
    document.append(kHead).append(kStartMarker);
    fragment_start = document.size();
    document.append(html);
    fragment_end = document.size();
    document.append(kEndMarker).append(kTail);
  }
  // Every field has ten digits, so the header's length is known before its values.
  const std::string sample = "Version:0.9\r\nStartHTML:" + Offset(0) + "\r\nEndHTML:" + Offset(0) +
                             "\r\nStartFragment:" + Offset(0) + "\r\nEndFragment:" + Offset(0) +
                             "\r\n";
  const size_t base = sample.size();
  std::string out = "Version:0.9\r\nStartHTML:" + Offset(base) +
                    "\r\nEndHTML:" + Offset(base + document.size()) +
                    "\r\nStartFragment:" + Offset(base + fragment_start) +
                    "\r\nEndFragment:" + Offset(base + fragment_end) + "\r\n";
  out.append(document);
  return out;
}

std::string HtmlOfferToUtf8(std::string_view bytes) {
  int code_page = 0;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    code_page = 1200;
    bytes.remove_prefix(2);
  } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    code_page = 1201;
    bytes.remove_prefix(2);
  } else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') {
    code_page = 1200;  // "<\0h\0..." from programs that offer UTF-16 without a mark
  }
  std::string text;
  if (code_page == 0 || !DecodeCodePage(bytes, code_page, text)) return std::string(bytes);
  return text;
}

std::vector<std::string> ParseFileList(std::string_view list) {
  while (!list.empty() && list.back() == '\0') list.remove_suffix(1);
  std::vector<std::string> paths;
  size_t line_start = 0;
  bool first = true;
  while (line_start <= list.size()) {
    size_t line_end = list.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = list.size();
    std::string_view line = list.substr(line_start, line_end - line_start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line_start = line_end + 1;
    // The GNOME list starts with its operation; a URI list may carry comments.
    if (first && (line == "copy" || line == "cut")) continue;
    first = false;
    if (line.empty() || line[0] == '#') continue;
    std::string path = LocalPathOfFileUri(std::string(line));
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

ClipboardFormats::ClipboardFormats(std::unique_ptr<ClipboardSnapshot> snapshot)
    : snapshot_(std::move(snapshot)) {}

ClipboardFormats::~ClipboardFormats() = default;

std::string ClipboardFormats::OfferedTarget(ClipboardFormat format) const {
  if (snapshot_ == nullptr) return {};
  for (const PlatformNames& names : kPlatformNames) {
    if (names.format != format) continue;
    for (std::string_view target : names.targets) {
      if (snapshot_->Offers(target)) return std::string(target);
    }
  }
  return {};
}

bool ClipboardFormats::IsFormatAvailable(ClipboardFormat format) const {
  return !OfferedTarget(format).empty();
}

ClipboardFormat ClipboardFormats::GetPriorityFormat(
    const std::vector<ClipboardFormat>& formats) const {
  for (ClipboardFormat format : formats) {
    if (IsFormatAvailable(format)) return format;
  }
  return ClipboardFormat::kNone;
}

bool ClipboardFormats::GetData(ClipboardFormat format, std::string* data) {
  data->clear();
  const std::string* bytes = Data(format);
  if (bytes == nullptr) return false;
  *data = *bytes;
  return true;
}

const std::string* ClipboardFormats::Data(ClipboardFormat format) {
  if (failed_.count(format) != 0) return nullptr;
  auto made = made_.find(format);
  if (made == made_.end()) {
    std::string bytes;
    if (!IsFormatAvailable(format) || !Convert(format, &bytes)) {
      failed_[format] = true;
      return nullptr;
    }
    made = made_.emplace(format, std::move(bytes)).first;
  }
  return &made->second;
}

bool ClipboardFormats::Convert(ClipboardFormat format, std::string* data) {
  // The bitmap's offer is read once for the DIB and for the PNG taken or made from it.
  if (format == ClipboardFormat::kDib) return PackedDibFromImage(OfferedImageBytes(), data);
  const std::string target = OfferedTarget(format);
  std::string raw;
  if (!snapshot_->Read(target, &raw)) return false;
  switch (format) {
    case ClipboardFormat::kHtml:
      *data = MakeCfHtml(HtmlOfferToUtf8(raw));
      return true;
    case ClipboardFormat::kText:
      // STRING is ISO-8859-1 by the X11 rules, whatever the locale.
      return DecodeCodePage(raw, 28591, *data);
    case ClipboardFormat::kHdrop:
      for (const std::string& path : ParseFileList(raw)) data->append(path).push_back('\0');
      return true;
    default:
      *data = std::move(raw);  // offered as the format has it
      return true;
  }
}

// Decoded by its bytes: an offer may hold another allow-listed format than its name says.
const std::string& ClipboardFormats::OfferedImageBytes() {
  if (!image_read_ && !snapshot_->Read(OfferedTarget(ClipboardFormat::kDib), &offered_image_)) {
    offered_image_.clear();
  }
  image_read_ = true;
  return offered_image_;
}

bool ClipboardFormats::GetOfferedPng(std::string* png) {
  png->clear();
  if (OfferedTarget(ClipboardFormat::kDib) != "image/png") return false;
  const std::string& bytes = OfferedImageBytes();
  if (SniffImageFormat(bytes.data(), bytes.size()) != SniffedFormat::kPng) return false;
  *png = bytes;
  return true;
}

namespace {

// Hands the offer's pieces to the PNG encoder as they arrive.
class BitmapToPngSink : public ClipboardSink {
 public:
  void Expect(size_t bytes) override { stream.Expect(bytes); }
  void Append(std::string_view piece) override { stream.Append(piece); }

  PlainBmpPngStream stream;
};

}  // namespace

bool ClipboardFormats::GetPlainBitmapAsPng(std::string* png) {
  png->clear();
  if (OfferedTarget(ClipboardFormat::kDib) != "image/bmp") return false;
  if (image_read_) return PngFromPlainBmp(offered_image_, png);
  // Read and encoded at once: a 4K bitmap takes as long to arrive as to compress, and the bands
  // whose rows are in are compressed while the rest still comes.
  BitmapToPngSink sink;
  const bool read = snapshot_->ReadInto("image/bmp", &sink);
  image_read_ = true;
  const bool encoded = read && sink.stream.Finish(png);
  // Kept for the DIB route, which takes any bitmap this one refuses.
  offered_image_ = read ? sink.stream.TakeFile() : std::string();
  return encoded;
}

std::vector<std::string> ClipboardFormats::FileList() {
  std::string joined;
  std::vector<std::string> paths;
  if (!GetData(ClipboardFormat::kHdrop, &joined)) return paths;
  for (size_t start = 0; start < joined.size();) {
    const size_t end = joined.find('\0', start);
    paths.push_back(joined.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}
