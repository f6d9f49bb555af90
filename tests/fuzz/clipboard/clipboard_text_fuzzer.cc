// Clipboard text from other programs: the file-list parser, the CF_HTML wrapping, the
// document cut and the Office test. Each result must stay inside what it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "clipboard/clipboard_formats.h"
#include "clipboard/clipboard_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const std::string& path : ParseFileList(bytes)) {
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) abort();
  }
  const std::string html = HtmlOfferToUtf8(bytes);
  const std::string wrapped = MakeCfHtml(html);
  if (wrapped.find(html) == std::string::npos) abort();
  const std::string document = ExtractHtmlDocument(bytes);
  if (!document.empty() && bytes.find(document) == std::string_view::npos) abort();
  IsOfficeHtml(bytes);
  ReplaceVmlImages(document);
  return 0;
}
