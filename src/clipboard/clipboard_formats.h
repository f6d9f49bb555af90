#ifndef ORVO_CLIPBOARD_CLIPBOARD_FORMATS_H_
#define ORVO_CLIPBOARD_CLIPBOARD_FORMATS_H_

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ClipboardSnapshot;

// The clipboard formats the editor's protocol was designed around, by their standard numbers,
// and "HTML Format" (a registered format, given a number of its own here).
enum class ClipboardFormat : unsigned {
  kNone = 0,
  kText = 1,  // CF_TEXT
  kBitmap = 2,
  kTiff = 6,
  kDib = 8,
  kUnicodeText = 13,
  kEnhMetafile = 14,
  kHdrop = 15,
  kHtml = 0xC000,
};

// One clipboard snapshot presented in those formats:
//   kHtml         CF_HTML (description header, then the document) built from "text/html"
//   kUnicodeText  "UTF8_STRING", else "text/plain;charset=utf-8"
//   kText         "STRING", which is ISO-8859-1, converted to UTF-8
//   kDib          "image/png", else "image/bmp", decoded to a packed DIB
//   kTiff         "image/tiff" as offered
//   kEnhMetafile  "image/emf", else "image/x-emf" as offered
//   kHdrop        the local paths of "text/uri-list", else "x-special/gnome-copied-files"
//   kBitmap       never: a bare bitmap handle has no counterpart here
// Text formats hold UTF-8. Each format is converted once and kept. One object per request,
// used by one thread.
class ClipboardFormats {
 public:
  explicit ClipboardFormats(std::unique_ptr<ClipboardSnapshot> snapshot);
  ~ClipboardFormats();
  ClipboardFormats(const ClipboardFormats&) = delete;
  ClipboardFormats& operator=(const ClipboardFormats&) = delete;

  // Whether the snapshot offers a target the format is made from. The conversion itself may
  // still fail (a PNG that does not decode).
  bool IsFormatAvailable(ClipboardFormat format) const;

  // The first format of the list that is available; kNone when none is.
  ClipboardFormat GetPriorityFormat(const std::vector<ClipboardFormat>& formats) const;

  // The format's bytes in *data (length, then a closing 0 as every std::string has), and
  // true; false with *data emptied when the format is not available or cannot be made. For
  // kHdrop the paths are joined by 0 bytes; use FileList() instead.
  bool GetData(ClipboardFormat format, std::string* data);

  // The same bytes where this object keeps them, without a copy (a 4K bitmap is 25 MB); null
  // when GetData would fail. Valid while this object lives.
  const std::string* Data(ClipboardFormat format);

  // The copied files (kHdrop) as local paths, in order; empty when there are none.
  std::vector<std::string> FileList();

  // The PNG file a bitmap (kDib) is made from, as offered: false when the bitmap comes from
  // another target or the bytes do not start like a PNG file.
  bool GetOfferedPng(std::string* png);

  // The PNG file a bitmap (kDib) offered as a plain BMP file (24-bit rows, uncompressed) gives,
  // made straight from the offered rows (PngFromPlainBmp): false when the bitmap comes from
  // another target or another kind of BMP, which GetData decodes instead.
  bool GetPlainBitmapAsPng(std::string* png);

 private:
  bool Convert(ClipboardFormat format, std::string* data);
  // The offer a bitmap (kDib) is made from, "image/png" or "image/bmp", read once (empty when
  // it could not be read).
  const std::string& OfferedImageBytes();
  // The first name of the format's platform names that the snapshot offers; empty when none.
  std::string OfferedTarget(ClipboardFormat format) const;

  std::unique_ptr<ClipboardSnapshot> snapshot_;
  std::map<ClipboardFormat, std::string> made_;  // converted formats, absent: not tried yet
  std::map<ClipboardFormat, bool> failed_;
  std::string offered_image_;  // read once for kDib, GetOfferedPng or GetPlainBitmapAsPng
  bool image_read_ = false;
};

// Wraps HTML as a copying program on the other platform puts it on the clipboard: the
// description header ("Version:0.9", then StartHTML, EndHTML, StartFragment and EndFragment
// as ten-digit byte offsets), then the document. A whole document (one with an "<html" start
// tag, in any case) keeps its own tags; its fragment runs from after "<!--StartFragment-->" to
// "<!--EndFragment-->" when it has them, else over the whole document. A bare fragment, as
// browsers here offer it, is put into "<html><body><!--StartFragment-->" ...
// "<!--EndFragment--></body></html>" unchanged (a leading meta charset stays in it).
std::string MakeCfHtml(std::string_view html);

// The text of a "text/html" offer as UTF-8: UTF-16 (with a byte-order mark, or little-endian
// without one when the second byte is 0) is converted; anything else is taken as UTF-8.
std::string HtmlOfferToUtf8(std::string_view bytes);

// The local paths named by a file list: "text/uri-list" (CR LF or LF lines, '#' comments) or
// "x-special/gnome-copied-files" (a first line "copy" or "cut"). Only file URIs with an empty
// host or "localhost" are taken, percent-decoded (LocalPathOfFileUri); other URIs and
// malformed ones are dropped. A trailing 0 byte is tolerated.
std::vector<std::string> ParseFileList(std::string_view list);

#endif  // ORVO_CLIPBOARD_CLIPBOARD_FORMATS_H_
