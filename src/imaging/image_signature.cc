#include "imaging/image_signature.h"

namespace {

using namespace std::string_view_literals;

// A signature: `magic` at offset 0 and, when `second` is not empty, `second` at `at`; the
// bytes must number at least `minimum`. The first matching row decides.
struct SignatureRow {
  ImageSignature signature;
  std::string_view magic;
  size_t at;
  std::string_view second;
  size_t minimum;
};

constexpr SignatureRow kSignatures[] = {
    {ImageSignature::kPng, "\x89PNG\r\n\x1a\n"sv, 0, {}, 0},
    {ImageSignature::kJpeg, "\xFF\xD8\xFF"sv, 0, {}, 0},
    {ImageSignature::kGif, "GIF8"sv, 0, {}, 0},
    {ImageSignature::kBmp, "BM"sv, 0, {}, 0},
    {ImageSignature::kTiff, "II*\0"sv, 0, {}, 0},
    {ImageSignature::kTiff, "MM\0*"sv, 0, {}, 0},
    {ImageSignature::kRiff, "RIFF"sv, 0, {}, 0},
    // The header record is 88 bytes; the signature field is the 32-bit value 0x464D4520.
    {ImageSignature::kEmf, "\x01\0\0\0"sv, 40, " EMF"sv, kImageSignatureBytes},
};

bool Matches(std::string_view bytes, const SignatureRow& row) {
  if (bytes.size() < row.minimum || bytes.substr(0, row.magic.size()) != row.magic) return false;
  return row.second.empty() || (bytes.size() >= row.at + row.second.size() &&
                                bytes.substr(row.at, row.second.size()) == row.second);
}

}  // namespace

ImageSignature SignatureOf(std::string_view bytes) {
  for (const SignatureRow& row : kSignatures) {
    if (Matches(bytes, row)) return row.signature;
  }
  return ImageSignature::kNone;
}
