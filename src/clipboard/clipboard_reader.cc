#include "clipboard/clipboard_reader.h"

#include <utility>

#include "clipboard/clipboard_formats.h"
#include "platform/clipboard.h"
#include "platform/file_system.h"
#include "text/ascii.h"
#include "text/text_conversion.h"
#include "word/html_image_document.h"
#include "workspace/path_macros.h"

namespace {

// The text up to its first 0 byte, as the C string the format is read as.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

void ReplaceAll(std::string* text, std::string_view from, std::string_view to) {
  std::string out;
  size_t done = 0;
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, done)) {
    out.append(*text, done, at - done).append(to);
    done = at + from.size();
  }
  if (done == 0) return;
  out.append(*text, done, std::string::npos);
  *text = std::move(out);
}

bool ContainsAtIgnoringCase(std::string_view text, size_t at, std::string_view word) {
  return StartsWithIgnoringAsciiCase(text.substr(at), word);
}

}  // namespace

ClipboardReader::ClipboardReader(const std::string& temp_path)
    : ClipboardReader(temp_path, std::make_unique<ClipboardFormats>(TakeClipboardSnapshot())) {}

ClipboardReader::ClipboardReader(const std::string& temp_path,
                                 std::unique_ptr<ClipboardFormats> formats)
    : temp_path_(temp_path),
      work_path_(ExpandPathMacros(temp_path)),
      formats_(std::move(formats)),
      document_(std::make_unique<HtmlImageDocument>()) {}

ClipboardReader::~ClipboardReader() = default;

std::string ExtractHtmlDocument(std::string_view text) {
  size_t start = text.find("<html");
  if (start == std::string_view::npos) start = text.find("<HTML");
  size_t end = text.find("</html");
  if (end == std::string_view::npos) end = text.find("</HTML");
  if (start == std::string_view::npos || end == std::string_view::npos || end < start) return {};
  // Through the '>' of "</html>", never past the text.
  const size_t stop = std::min(end + 7, text.size());
  return std::string(text.substr(start, stop - start));
}

bool IsOfficeHtml(std::string_view bytes) {
  bytes = UpToNul(bytes);
  size_t at = 0;
  while (at < bytes.size() && !ContainsAtIgnoringCase(bytes, at, "<html")) ++at;
  for (; at < bytes.size() && bytes[at] != '>'; ++at) {
    if (ContainsAtIgnoringCase(bytes, at, "schemas-microsoft-com") ||
        ContainsAtIgnoringCase(bytes, at, "schemas.microsoft.com")) {
      return true;
    }
  }
  return false;
}

std::string ReplaceVmlImages(std::string html) {
  ReplaceAll(&html, "<v:imagedata", "<img");
  ReplaceAll(&html, "/v:imagedata>", "/>");
  return html;
}

bool ClipboardReader::ReadHtml(std::string* html, int* is_office) {
  std::string data;
  if (!formats_->GetData(ClipboardFormat::kHtml, &data)) return false;
  *is_office = IsOfficeHtml(data) ? 1 : 0;
  // Read as UTF-8: what is not valid UTF-8 becomes U+FFFD, as the conversion does there.
  const std::string text = Utf8ToWide(UpToNul(data));
  document_text_ = ReplaceVmlImages(ExtractHtmlDocument(text));
  if (document_text_.empty() || !document_->LoadHtml(document_text_)) return false;
  *html = document_text_;
  return true;
}

std::string ClipboardReader::ReadText() {
  ClipboardFormat format =
      formats_->GetPriorityFormat({ClipboardFormat::kUnicodeText, ClipboardFormat::kText});
  std::string data;
  if (format == ClipboardFormat::kNone || !formats_->GetData(format, &data)) return {};
  return Utf8ToWide(UpToNul(data));
}

std::vector<std::string> ClipboardReader::ImageSources() {
  std::vector<std::string> sources;
  document_->GetResourceList(sources, "img");
  return sources;
}
