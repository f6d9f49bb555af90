#ifndef ORVO_COMPONENTS_MIME_CODEC_PAGE_TEXT_H_
#define ORVO_COMPONENTS_MIME_CODEC_PAGE_TEXT_H_

#include <string>
#include <string_view>

namespace mimecodec {

// How the page's bytes reached the archive.
enum class TransferKind { kAsText, kEncoded };  // 7bit/8bit/binary, or base64/quoted-printable

// The page bytes as they should be written: converted to UTF-8 from the charset the part
// declares, without a leading byte-order mark. Bytes that came as text and are already valid
// UTF-8 stay as they are whatever the declaration says: the archive reached us as UTF-8 text, so
// its text parts were converted on the way. An empty or unknown charset leaves the bytes as
// they are (the service's text decoder then decides). Legacy names are read as the Windows code
// pages that writers of them mean (euc-kr as CP949, shift_jis as CP932, gb2312 as GBK,
// iso-8859-1 as windows-1252). A sequence the charset does not define becomes U+FFFD.
std::string PageTextForFile(std::string bytes, std::string_view charset, TransferKind kind);

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_PAGE_TEXT_H_
