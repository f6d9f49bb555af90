#ifndef ORVO_CLIPBOARD_CLIPBOARD_READER_H_
#define ORVO_CLIPBOARD_CLIPBOARD_READER_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ClipboardFormats;
class HeldFolder;
class HtmlImageDocument;

// Reads the clipboard for one request of the clipboard commands: its HTML (with the Office
// test and the VML image rewrite), its plain text, and its pictures as image files.
//
// The reader takes one snapshot of the clipboard when it first needs it and answers every
// operation from that snapshot, so the HTML, the images and the text of one request come from
// the same copy even when another program changes the clipboard meanwhile. Text is UTF-8.
// Created, used and destroyed by the thread that serves the request.
class ClipboardReader {
 public:
  // temp_path: the request's "temppath"; path macros are expanded (ExpandPathMacros), and an
  // empty result means the system temp folder. The snapshot comes from the system clipboard.
  explicit ClipboardReader(const std::string& temp_path);
  // The same over a snapshot given by the caller (formats must not be null).
  ClipboardReader(const std::string& temp_path, std::unique_ptr<ClipboardFormats> formats);
  ~ClipboardReader();
  ClipboardReader(const ClipboardReader&) = delete;
  ClipboardReader& operator=(const ClipboardReader&) = delete;

  // Reads "HTML Format", cuts the document out of it (ExtractHtmlDocument), turns VML image
  // elements into img elements and loads the result into the reader's document. True when a
  // non-empty document was loaded; *html is then that text. *is_office is set (IsOfficeHtml)
  // whenever the clipboard had HTML, even when the result is false; untouched otherwise.
  bool ReadHtml(std::string* html, int* is_office);

  // The clipboard's plain text: CF_UNICODETEXT, else CF_TEXT (converted from ISO-8859-1), up
  // to its first 0 byte; invalid UTF-8 is replaced by U+FFFD. Empty when there is none.
  std::string ReadText();

  // Appends to *paths the image files made from the clipboard's best picture format: a bitmap
  // (as PNG; one offered as a PNG file is that file), an enhanced metafile (rendered to PNG), a
  // TIFF block (stored as a ".gif" file), or copies of the image files of a copied file list
  // (".bmp" ones converted to PNG). Every file is written in a new work folder under the reader's
  // work path; the caller removes them with DeleteFoldersOf. Files named by a file list are never
  // listed themselves, so that clean-up can never reach them.
  void CaptureImages(std::vector<std::string>* paths);

  // Writes the clipboard's enhanced metafile to a work file, measures it and renders it to a
  // PNG in a new work folder (frame size at screen resolution, times 4/3). *png_path is set
  // to the PNG's path when the metafile could be measured, whether or not it rendered;
  // untouched otherwise. The metafile's work folder is removed.
  void RenderMetafileToPng(std::string* png_path);

  // The image sources of the document ReadHtml loaded (GetResourceList with "img").
  std::vector<std::string> ImageSources();

  const std::string& work_path() const { return work_path_; }

 private:
  bool CaptureOfferedPng(std::vector<std::string>* paths);
  bool CapturePlainBitmap(std::vector<std::string>* paths);
  void CaptureDib(const std::string& dib, std::vector<std::string>* paths);
  bool CaptureFileList(std::vector<std::string>* candidates);
  void ConvertCandidate(const std::string& candidate, bool user_file,
                        std::vector<std::string>* paths);
  // A free file path ending in extension in a new work folder, held while the reader lives;
  // empty when no folder could be made.
  std::string NewWorkFile(const std::string& extension);

  std::string temp_path_;
  std::string work_path_;
  std::vector<std::unique_ptr<HeldFolder>> work_folders_;
  std::unique_ptr<ClipboardFormats> formats_;
  std::unique_ptr<HtmlImageDocument> document_;
  std::string document_text_;
};

// Cuts the HTML document out of clipboard text: from the first "<html" (else the first
// "<HTML") through the ">" that follows the first "</html" (else "</HTML"), both searched from
// the text's start. Empty when either is missing or the closing tag comes first. A closing
// tag at the very end without its ">" ends the result at the text's end.
std::string ExtractHtmlDocument(std::string_view text);

// Whether the html start tag (from the first "<html", in any case, up to the next ">")
// declares an Office namespace: "schemas-microsoft-com" or "schemas.microsoft.com", in any
// case. Never reads past bytes.size() nor past a 0 byte.
bool IsOfficeHtml(std::string_view bytes);

// Replaces every "<v:imagedata" by "<img", then every "/v:imagedata>" by "/>".
std::string ReplaceVmlImages(std::string html);

#endif  // ORVO_CLIPBOARD_CLIPBOARD_READER_H_
