#ifndef ORVO_WORD_HTML_IMAGE_DOCUMENT_H_
#define ORVO_WORD_HTML_IMAGE_DOCUMENT_H_

#include <memory>
#include <string>
#include <vector>

class HtmlDocument;

// An HTML page held for its images: the clipboard commands list the distinct image sources of
// pasted HTML, and the Word round trip cuts inline "data:" images out into files before Word
// sees the page.
//
// Call LoadHtml first, then any of the others, all on the thread that loaded it. Not
// thread-safe.
class HtmlImageDocument {
 public:
  HtmlImageDocument();
  ~HtmlImageDocument();
  HtmlImageDocument(const HtmlImageDocument&) = delete;
  HtmlImageDocument& operator=(const HtmlImageDocument&) = delete;

  // Parses html, replacing any page held before. False for empty text (nothing is held then)
  // or text the engine cannot take; the text is then moved to *refused when given.
  bool LoadHtml(std::string html, std::string* refused = nullptr);

  // Appends to list the "src" of every element named tag (callers pass "img") that is an img
  // element, as written with character references decoded, in document order, skipping
  // sources already in list and empty ones. Logs "\nstart GetResourceList", then
  // "\nimage count [%d]" with the number of such elements and "\nimg src= [%s]" for each
  // source appended. False without a page or when no element has that name.
  bool GetResourceList(std::vector<std::string>& list, const std::string& tag);

  // Writes every img source that ParseDataUri accepts as an image file into folder (a unique
  // name with the URI's extension) and points the element's "src" at the file's path. A WebP
  // file (extension "webp" and a RIFF header) is also converted to PNG, and the element then
  // names the PNG; the WebP file stays. An image that cannot be written keeps its "data:"
  // source. True when the page has at least one img element, whatever became of them.
  bool ExtractDataImages(const std::string& folder);

  // The document element's outer HTML with the changes made, every "&amp;" replaced by "&".
  // Empty without a page.
  std::string GetOuterHtml() const;

  // The engine's view of the page, for callers that need more than images. Null before a
  // successful LoadHtml.
  const HtmlDocument* document() const;

 private:
  std::unique_ptr<HtmlDocument> document_;
};

// Splits a "data:" URI into its base64 payload and a file extension. True when the URI is an
// image in base64:
//   data:image/<subtype>;base64,<payload>   extension <subtype> ("jpeg" becomes "jpg");
//   data:text/<any>;base64,<payload>        when the payload sniffs as an image;
//   data:;<any>,<payload>                   when the payload sniffs as an image.
// The prefix and the word "base64" compare without regard to case; "data:" without a media
// type and the "jpeg" rename compare exactly. extension is also changed on some false results;
// it is left as passed when no subtype was read.
bool ParseDataUri(const std::string& uri, std::string& payload, std::string& extension);

// The image kind of base64 text by its first character: '/' "jpg", 'R' "gif", 'i' "png";
// otherwise empty.
std::string SniffBase64ImageType(const std::string& payload);

// Appends to out the runs of text between characters of delimiters; runs of delimiters never
// give empty tokens.
void SplitTokens(const std::string& text, const std::string& delimiters,
                 std::vector<std::string>& out);

#endif  // ORVO_WORD_HTML_IMAGE_DOCUMENT_H_
