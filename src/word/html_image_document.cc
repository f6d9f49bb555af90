#include "word/html_image_document.h"

#include "html/html_document.h"
#include "imaging/webp.h"
#include "platform/log.h"
#include "text/ascii.h"
#include "workspace/temp_workspace.h"

namespace {

// The img elements among the elements named tag.
std::vector<int> ImageElements(const HtmlDocument& document, const std::string& tag,
                               size_t* named) {
  std::vector<int> images;
  std::vector<int> elements = document.ElementsByTagName(tag);
  *named = elements.size();
  for (int element : elements) {
    if (document.elements()[element].tag_id == TagId::kImg) images.push_back(element);
  }
  return images;
}

}  // namespace

HtmlImageDocument::HtmlImageDocument() = default;
HtmlImageDocument::~HtmlImageDocument() = default;

bool HtmlImageDocument::LoadHtml(std::string html, std::string* refused) {
  document_.reset();
  if (html.empty()) return false;
  auto document = std::make_unique<HtmlDocument>();
  if (!document->Load(std::move(html), HtmlLoadLimits(), refused)) return false;
  document_ = std::move(document);
  return true;
}

const HtmlDocument* HtmlImageDocument::document() const { return document_.get(); }

bool HtmlImageDocument::GetResourceList(std::vector<std::string>& list, const std::string& tag) {
  Log("\nstart GetResourceList");
  if (!document_) return false;
  size_t named = 0;
  std::vector<int> images = ImageElements(*document_, tag, &named);
  Log("\nimage count [%d]", static_cast<int>(named));
  if (named < 1) return false;
  for (int element : images) {
    std::string src = document_->GetAttribute(element, "src");
    // An empty source names no image: listing it would only make callers read a file "".
    if (src.empty()) continue;
    bool listed = false;
    for (const std::string& entry : list) listed = listed || entry == src;
    if (listed) continue;
    list.push_back(src);
    Log("\nimg src= [%s]", src.c_str());
  }
  return true;
}

bool HtmlImageDocument::ExtractDataImages(const std::string& folder) {
  if (!document_) return false;
  size_t named = 0;
  std::vector<int> images = ImageElements(*document_, "img", &named);
  for (int element : images) {
    std::string payload;
    std::string extension = "png";
    if (!ParseDataUri(document_->GetAttribute(element, "src"), payload, extension)) continue;
    std::string path = UniqueFilePath(folder, extension);
    if (path.empty() || !WriteDataFile(path, payload, DataEncoding::kBase64)) continue;
    if (extension == "webp" && IsRiffFile(path)) {
      std::string png_path = UniqueFilePath(folder, "png");
      if (!png_path.empty() && ConvertWebpToPng(path, png_path)) path = png_path;
    }
    document_->SetAttribute(element, "src", path);
  }
  return named > 0;
}

std::string HtmlImageDocument::GetOuterHtml() const {
  if (!document_) return {};
  std::string html = document_->OuterHtml();
  std::string out;
  out.reserve(html.size());
  size_t at = 0;
  for (size_t found; (found = html.find("&amp;", at)) != std::string::npos; at = found + 5) {
    out.append(html, at, found - at);
    out += '&';
  }
  out.append(html, at, std::string::npos);
  return out;
}

std::string SniffBase64ImageType(const std::string& payload) {
  if (payload.empty()) return {};
  switch (payload[0]) {
    case '/':
      return "jpg";
    case 'R':
      return "gif";
    case 'i':
      return "png";
    default:
      return {};
  }
}

bool ParseDataUri(const std::string& uri, std::string& payload, std::string& extension) {
  std::vector<std::string> parts;
  SplitTokens(uri, ",", parts);
  if (parts.size() < 2) return false;
  payload = parts[1];
  std::vector<std::string> header;
  SplitTokens(parts[0], ";", header);
  if (header.size() < 2) return false;
  const std::string& encoding = header[1];
  std::vector<std::string> media_type;
  SplitTokens(header[0], "/", media_type);
  if (media_type.size() >= 2) {
    extension = media_type[1] == "jpeg" ? "jpg" : media_type[1];
    if (!EqualsIgnoringAsciiCase(encoding, "base64")) return false;
    std::string prefix = AsciiLowered(media_type[0]);
    if (prefix == "data:image") return true;
    if (prefix != "data:text") return false;
  } else if (media_type.size() != 1 || media_type[0] != "data:") {
    return false;
  }
  std::string sniffed = SniffBase64ImageType(payload);
  if (sniffed.empty()) return false;
  extension = sniffed;
  return true;
}

void SplitTokens(const std::string& text, const std::string& delimiters,
                 std::vector<std::string>& out) {
  size_t start = text.find_first_not_of(delimiters);
  size_t end = text.find_first_of(delimiters, start);
  // After the last token both positions are npos: find_* from npos find nothing.
  while (start != std::string::npos) {
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = text.find_first_not_of(delimiters, end);
    end = text.find_first_of(delimiters, start);
  }
}
