#ifndef ORVO_TEXT_TEXT_FILE_H_
#define ORVO_TEXT_TEXT_FILE_H_

#include <string>
#include <string_view>

// Reading text files of unknown encoding (HTML written by other programs) as UTF-8.
// Thread-safe: nothing is shared between calls.

// Reads the whole file at path and decodes it with DecodeTextBytes. False, with text emptied,
// when the file cannot be read or is empty.
bool ReadTextFile(const std::string& path, std::string& text);

// Decides the encoding of bytes and converts them to UTF-8, in this order:
//  1. a UTF-16 byte-order mark (FF FE little-endian, FE FF big-endian): the code units after
//     the mark up to the first 0 unit; an odd last byte, which is no whole unit, is dropped;
//  2. a UTF-8 mark (EF BB BF, kept as U+FEFF) or LooksLikeUtf8: the bytes up to the first 0 as
//     UTF-8;
//  3. otherwise the bytes up to the first 0 in AnsiCodePage(), decoded again with the code
//     page of the HTML meta charset (SniffHtmlCharset) when it declares another one.
// Sequences that are not valid in the chosen encoding become U+FFFD. False for empty bytes.
bool DecodeTextBytes(std::string_view bytes, std::string& text);

// Whether bytes (up to the first 0) hold at least one well-formed multi-byte sequence and no
// byte that rules UTF-8 out: a control character other than BEL, BS, TAB, LF, FF, CR, ESC, a
// stray continuation byte, 0xFE/0xFF, or a sequence cut short by another byte. Pure ASCII is
// not UTF-8 by this test; data ending inside a sequence keeps the result so far.
bool LooksLikeUtf8(std::string_view bytes);

// Looks for the charset of an HTML meta content declaration
// (<meta ... content="text/html; charset=euc-kr">) and stores the code page the charset table
// gives it (0 for a name it does not list). The tag name "meta", the attribute name "content"
// and the word "charset" are matched with their case; the value is lower-cased, and only its
// first 1023 characters are kept. Returns false, leaving code_page unchanged, when no
// declaration is found.
bool SniffHtmlCharset(std::string_view text, int& code_page);

#endif  // ORVO_TEXT_TEXT_FILE_H_
