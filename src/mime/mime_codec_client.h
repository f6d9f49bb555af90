#ifndef ORVO_MIME_MIME_CODEC_CLIENT_H_
#define ORVO_MIME_MIME_CODEC_CLIENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mime/resource_registry.h"

class HeldFolder;

// An archive text the component wrote, kept in the component's own buffer (a 70 MB archive is
// never copied on its way into the answer), or a text of the service's own. Move-only.
class CodecText {
 public:
  CodecText();
  explicit CodecText(std::string text);
  CodecText(CodecText&&) noexcept;
  CodecText& operator=(CodecText&&) noexcept;
  ~CodecText();

  std::string_view view() const;

 private:
  friend class MimeCodecClient;
  struct Held;  // the component's text and the loaded component it must be freed by
  std::unique_ptr<Held> held_;
  std::string own_;
};

// The service's side of the MIME archive codec component "mimearchivecodec.so"
// (components/mime_codec/mime_codec_interface.h). The component is loaded from its folder at
// each use and let go afterwards; a missing or broken component shows as "not available".
//
// Thread-safety: every member may run on several request threads at once; each call works
// on instances of its own.
class MimeCodecClient {
 public:
  // The settings the encode sequence hands the component.
  struct EncodeSettings {
    bool body_only = false;   // put_EncodeRange(1) is called only for a body-only encode
    int32_t encode_type = 3;  // put_EncodeType
    int32_t integer_option = 2;
    int16_t boolean_option = -1;    // VARIANT_BOOL true
    std::string charset = "utf-8";  // put_Charset is skipped when empty
  };

  // The component beside the running executable.
  MimeCodecClient();
  // The component in component_folder, which ends in '/'.
  explicit MimeCodecClient(std::string component_folder);

  // The availability check: the component loads, exports "GetMimeArchiveCodec", hands out a
  // table with every entry, and `create` gives an instance, which is released again.
  bool IsAvailable() const;

  // The encode sequence on a fresh instance: put_IntegerOption, put_BooleanOption,
  // put_Charset (unless empty), put_EncodeRange (only body-only), put_EncodeType, Encode with
  // page (up to its first 0 byte) and resources (content ID, local file, file name and media
  // type of each, in order). True when Encode succeeded (non-negative);
  // archive then holds a copy of its text and the component's text is freed. On failure
  // archive is emptied and nothing of the component's output is used.
  bool Encode(std::string_view page, const std::vector<ResourceEntry>& resources,
              const EncodeSettings& settings, std::string& archive) const;
  // The same, the text left where the component wrote it.
  bool Encode(std::string_view page, const std::vector<ResourceEntry>& resources,
              const EncodeSettings& settings, CodecText& archive) const;

  // The decode sequence: a fresh instance, Decode(archive, folder's handle), release. The
  // component writes only through the handle. Its result is not looked at: success shows only
  // as the files found in folder afterwards. Returns false only when no instance could be made
  // (archive and folder are then untouched).
  bool Decode(std::string_view archive, const HeldFolder& folder) const;
  // The same; where the component offers it, each file it writes whole from memory is also
  // handed to written (name in the folder, bytes valid during the call), so that the caller
  // need not read it back.
  // Where the component offers it, encoded is also told, for each file whose content archive
  // holds as base64 spelt exactly as Base64Encode spells the file, where that text lies
  // (offset, length; the CR LF of the last line included) and the file's size in bytes.
  using WrittenFile = std::function<void(std::string_view name, std::string_view bytes)>;
  using EncodedFile =
      std::function<void(std::string_view name, size_t offset, size_t length, uint64_t size)>;
  bool Decode(std::string_view archive, const HeldFolder& folder, const WrittenFile& written,
              const EncodedFile& encoded = nullptr) const;
  // The same into the folder at path, held for the call; false also when it cannot be opened.
  // For callers that hold no folder of their own (tools and tests).
  bool Decode(std::string_view archive, const std::string& folder) const;

  static constexpr char kComponentFileName[] = "mimearchivecodec.so";

 private:
  std::string component_folder_;
};

#endif  // ORVO_MIME_MIME_CODEC_CLIENT_H_
