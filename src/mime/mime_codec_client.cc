#include "mime/mime_codec_client.h"

#include <cstring>
#include <memory>

#include "mime_codec/mime_codec_interface.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"
#include "platform/file_system.h"

namespace {

bool TableIsWhole(const MimeArchiveCodecInterface& table) {
  return table.create != nullptr && table.put_EncodeRange != nullptr &&
         table.put_EncodeType != nullptr && table.Decode != nullptr &&
         table.put_Charset != nullptr && table.Encode != nullptr &&
         table.put_IntegerOption != nullptr && table.put_BooleanOption != nullptr &&
         table.release != nullptr && table.free_text != nullptr;
}

// One loaded component and one instance of it; the instance is released before the component
// is let go.
class CodecInstance {
 public:
  static std::unique_ptr<CodecInstance> Create(const std::string& folder) {
    // Without the executable's folder there is nowhere to look: a bare name would make the
    // loader search the system's library path.
    if (folder.empty()) return nullptr;
    auto library = DynamicLibrary::Load(folder + MimeCodecClient::kComponentFileName);
    if (!library) return nullptr;
    auto factory =
        reinterpret_cast<GetMimeArchiveCodecFunction>(library->Symbol("GetMimeArchiveCodec"));
    const MimeArchiveCodecInterface* table = factory == nullptr ? nullptr : factory();
    if (table == nullptr || !TableIsWhole(*table)) return nullptr;
    MimeArchiveCodec* codec = table->create();
    if (codec == nullptr) return nullptr;
    return std::unique_ptr<CodecInstance>(new CodecInstance(std::move(library), table, codec));
  }

  ~CodecInstance() { table_->release(codec_); }

  const MimeArchiveCodecInterface& table() const { return *table_; }
  MimeArchiveCodec* codec() const { return codec_; }

 private:
  CodecInstance(std::unique_ptr<DynamicLibrary> library, const MimeArchiveCodecInterface* table,
                MimeArchiveCodec* codec)
      : library_(std::move(library)), table_(table), codec_(codec) {}

  std::unique_ptr<DynamicLibrary> library_;  // declared first: destroyed after the release
  const MimeArchiveCodecInterface* table_;
  MimeArchiveCodec* codec_;
};

}  // namespace

struct CodecText::Held {
  ~Held() { instance->table().free_text(text); }
  std::unique_ptr<CodecInstance> instance;  // loaded while its text lives
  char* text;
  size_t length;
};

CodecText::CodecText() = default;
CodecText::CodecText(std::string text) : own_(std::move(text)) {}
CodecText::CodecText(CodecText&&) noexcept = default;
CodecText& CodecText::operator=(CodecText&&) noexcept = default;
CodecText::~CodecText() = default;

std::string_view CodecText::view() const {
  return held_ ? std::string_view(held_->text, held_->length) : std::string_view(own_);
}

MimeCodecClient::MimeCodecClient() : MimeCodecClient(ExecutableFolder()) {}

MimeCodecClient::MimeCodecClient(std::string component_folder)
    : component_folder_(std::move(component_folder)) {}

bool MimeCodecClient::IsAvailable() const {
  return CodecInstance::Create(component_folder_) != nullptr;
}

bool MimeCodecClient::Encode(std::string_view page, const std::vector<ResourceEntry>& resources,
                             const EncodeSettings& settings, std::string& archive) const {
  CodecText text;
  bool ok = Encode(page, resources, settings, text);
  archive.assign(text.view());
  return ok;
}

bool MimeCodecClient::Encode(std::string_view page, const std::vector<ResourceEntry>& resources,
                             const EncodeSettings& settings, CodecText& archive) const {
  archive = CodecText();
  auto instance = CodecInstance::Create(component_folder_);
  if (!instance) return false;
  const MimeArchiveCodecInterface& table = instance->table();
  MimeArchiveCodec* codec = instance->codec();
  page = page.substr(0, strnlen(page.data(), page.size()));
  table.put_IntegerOption(codec, settings.integer_option);
  table.put_BooleanOption(codec, settings.boolean_option);
  if (!settings.charset.empty()) table.put_Charset(codec, settings.charset.c_str());
  if (settings.body_only) table.put_EncodeRange(codec, 1);
  table.put_EncodeType(codec, settings.encode_type);
  std::vector<MimeArchiveResource> records;
  records.reserve(resources.size());
  for (const ResourceEntry& e : resources) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(e.bytes.data());
    records.push_back({e.content_id.c_str(), e.local_file.c_str(), e.file_name.c_str(),
                       e.media_type.c_str(), e.bytes.empty() ? nullptr : bytes, e.bytes.size()});
  }
  char* text = nullptr;
  size_t length = 0;
  int32_t result = table.Encode(codec, reinterpret_cast<const unsigned char*>(page.data()),
                                page.size(), records.data(), records.size(), &text, &length);
  if (result < 0 || text == nullptr) {
    table.free_text(text);
    return false;
  }
  archive.held_.reset(new CodecText::Held{std::move(instance), text, length});
  return true;
}

bool MimeCodecClient::Decode(std::string_view archive, const HeldFolder& folder) const {
  return Decode(archive, folder, nullptr);
}

namespace {

void HandOn(void* context, const char* name, const unsigned char* bytes, size_t length) {
  (*static_cast<MimeCodecClient::WrittenFile*>(context))(
      name, std::string_view(reinterpret_cast<const char*>(bytes), length));
}

void TellWhere(void* context, const char* name, size_t offset, size_t length, uint64_t size) {
  (*static_cast<MimeCodecClient::EncodedFile*>(context))(name, offset, length, size);
}

}  // namespace

bool MimeCodecClient::Decode(std::string_view archive, const HeldFolder& folder,
                             const WrittenFile& written, const EncodedFile& encoded) const {
  auto instance = CodecInstance::Create(component_folder_);
  if (!instance) return false;
  const MimeArchiveCodecInterface& table = instance->table();
  WrittenFile sink = written;  // lives through the Decode call below
  if (sink && table.put_DecodedFileSink != nullptr) {
    table.put_DecodedFileSink(instance->codec(), HandOn, &sink);
  }
  EncodedFile places = encoded;  // likewise
  if (places && table.put_EncodedFileSink != nullptr) {
    table.put_EncodedFileSink(instance->codec(), TellWhere, &places);
  }
  table.Decode(instance->codec(), archive.data(), archive.size(), folder.NativeHandle());
  return true;
}

bool MimeCodecClient::Decode(std::string_view archive, const std::string& folder) const {
  std::unique_ptr<HeldFolder> held;
  if (!FileSystem::Default().OpenFolder(folder, FollowLinks::kYes, held).ok()) return false;
  return Decode(archive, *held);
}
