#include "mime/mime_encode_command.h"

#include <memory>

#include "html/html_document.h"
#include "mime/document_walk.h"
#include "mime/encode_options.h"
#include "mime/mime_codec_client.h"
#include "mime/resource_registry.h"
#include "platform/file_system.h"
#include "protocol/answer_files.h"
#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "text/text_conversion.h"
#include "workspace/folder_deletion.h"
#include "workspace/request_folder.h"

namespace {

// Picture bytes kept for the codec of at least this size are let go of at the encode's end;
// smaller ones go with the rest of the resource list.
constexpr size_t kReleasedAtOnceBytes = 64 << 10;

MimeCodecClient::EncodeSettings SettingsOf(const EncodeOptions& options) {
  MimeCodecClient::EncodeSettings settings;
  settings.body_only = options.range == EncodeRange::kBodyOnly;
  settings.encode_type = options.encode_type;
  settings.integer_option = options.integer_setting;
  settings.boolean_option = options.boolean_setting ? -1 : 0;
  settings.charset = options.charset;
  return settings;
}

// The page with its references embedded into registry, written out. The parsed page is let go
// of here, before the archive is built beside the text. False for a page the engine refuses.
bool SerialisePage(std::string_view page, const EncodeOptions& options, ResourceRegistry& registry,
                   std::string& serialised) {
  // A page over the engine's limit is refused before it is copied; valid UTF-8 is copied as it
  // is, the rest sanitised.
  const HtmlLoadLimits limits;
  std::string text;
  if (page.size() <= limits.max_bytes)
    text = IsValidUtf8(page) ? std::string(page) : Utf8ToWide(page);
  HtmlDocument document;
  // A plainly written page is read by its tags; the whole parse, which reads any page alike,
  // is for the rest.
  if (text.empty() || (!document.LoadPage(std::move(text), limits, &text) &&
                       !document.Load(std::move(text), limits))) {
    return false;
  }
  CollectResources(document, registry, std::string(), options);
  // The archive's charset is always UTF-8, the text's own encoding: no conversion is needed.
  serialised =
      options.range == EncodeRange::kBodyOnly ? document.BodyInnerHtml() : document.OuterHtml();
  return true;
}

// Whether every text the codec puts into the archive beside the bodies is UTF-8.
bool HandsOverUtf8(std::string_view page, const EncodeOptions& options,
                   const ResourceRegistry& registry) {
  if (!IsValidUtf8(page) || !IsValidUtf8(options.charset)) return false;
  for (const ResourceEntry& entry : registry.entries()) {
    if (!IsValidUtf8(entry.content_id) || !IsValidUtf8(entry.file_name) ||
        !IsValidUtf8(entry.media_type)) {
      return false;
    }
  }
  return true;
}

}  // namespace

CodecText EncodeMimeArchive(const MimeCodecClient& codec, const EncodeOptions& options,
                            std::string_view page, int32_t& error,
                            std::shared_ptr<const void>* leftovers) {
  error = kMimeEncoded;
  auto kept_registry = std::make_shared<ResourceRegistry>();
  ResourceRegistry& registry = *kept_registry;
  std::string serialised;
  if (!SerialisePage(page, options, registry, serialised)) {
    error = kMimeEncodeBadPage;
    return {};
  }
  if (!codec.IsAvailable()) {
    error = kMimeEncodeNoCodec;
    return {};
  }
  CodecText archive;
  if (!codec.Encode(serialised, registry.entries(), SettingsOf(options), archive)) {
    error = kMimeEncodeCodecFailed;
    return {};
  }
  // The codec writes UTF-8; only text that is not is rewritten (a 66 MB archive is not copied).
  // Its bodies are base64 and its other lines come from what it was handed: when all of that is
  // UTF-8, so is the archive, and the archive itself need not be read once more for it.
  if (!HandsOverUtf8(serialised, options, registry) && !IsValidUtf8(archive.view()))
    archive = CodecText(WideToUtf8(archive.view()));
  DeleteTree(options.workspace);
  if (leftovers != nullptr) {
    // Large bytes go now, so that they are not held beside the archive while it is sent.
    registry.ReleaseBytes(kReleasedAtOnceBytes);
    *leftovers = std::move(kept_registry);
  }
  return archive;
}

namespace {

// The archive an answer sends, and what its encode built beside it (the resource list), which
// goes with the answer: a page of thousands of pictures has as many entries to let go of, and
// the answer need not wait for that.
struct EncodeAnswer {
  CodecText archive;
  std::shared_ptr<const void> leftovers;
};

}  // namespace

std::string RunMimeEncodeCommand(CommandRequest& request) {
  Json::Value copy;
  const Json::Value& pdu = PduToRead(request, copy);
  const Json::Value& temp_path_value = pdu["temppath"];
  std::string temp_path = temp_path_value.isNull() ? std::string() : temp_path_value.asCString();
  EncodeOptions options;
  ReadEncodeOptions(pdu, options);
  const Json::Value& html = pdu["html"];
  html.asCString();  // raises the library's error for anything but a string
  std::string_view text = request.TextOf(html);
  std::string_view page = text.substr(0, text.find('\0'));  // as far as the library's C string
  std::unique_ptr<HeldFolder> folder = OpenRequestFolder(temp_path);
  auto answer = std::make_shared<EncodeAnswer>();
  if (folder == nullptr) {
    request.error = kMimeEncodeCodecFailed;
  } else {
    options.workspace = folder->Path() + "/";
    answer->archive =
        EncodeMimeArchive(MimeCodecClient(), options, page, request.error, &answer->leftovers);
  }
  // The archive goes with the answer, which escapes it as the connection takes it.
  std::string_view archive_text = answer->archive.view();
  return request.BuildResponse({}, {}, Json::Value(), archive_text, std::move(answer));
}

Json::Value BuildMimeEncodePdu(const PayloadInputs& inputs) {
  Json::Value pdu(Json::objectValue);
  // The archive is written into the answer from where it lies, without a copy in the value.
  pdu["mimevalue"] = inputs.files != nullptr
                         ? inputs.files->ReferText(inputs.payload, inputs.payload_holder)
                         : inputs.PayloadValue();
  return pdu;
}
