#include "imaging/webp.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "imaging/image_signature.h"
#include "platform/bus_error_guard.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace {

constexpr std::chrono::milliseconds kDecoderTimeLimit{30000};

std::string DecoderProgram() {
  std::string bundled = EditorDataFolder() + "/dwebp.exe";
  if (FileSystem::Default().IsExecutableFile(bundled)) return bundled;
  return "dwebp";
}

// The decoder reads any argument that starts with '-' as an option; a relative name such as
// "-x.webp" must still arrive as a file name.
std::string AsFileArgument(const std::string& path) {
  return !path.empty() && path[0] == '-' ? "./" + path : path;
}

struct SignatureTest {
  const unsigned char* bytes;
  size_t size;
  ImageSignature signature = ImageSignature::kNone;
};

// Reads the mapped bytes: a file shortened meanwhile ends the test, not the service.
void TestSignature(void* context) {
  auto* test = static_cast<SignatureTest*>(context);
  test->signature =
      SignatureOf(std::string_view(reinterpret_cast<const char*>(test->bytes), test->size));
}

bool IsNonEmptyFile(const std::string& path) {
  FileStatus status = FileSystem::Default().Status(path, FollowLinks::kYes);
  return status.type == FileType::kRegular && status.size > 0;
}

}  // namespace

bool IsRiffFile(const std::string& path) {
  std::unique_ptr<MappedFile> file = FileSystem::Default().MapReadOnly(path);
  if (file == nullptr) return false;
  SignatureTest test{file->data(), std::min(file->size(), kImageSignatureBytes)};
  return CallCatchingBusError(TestSignature, &test) && test.signature == ImageSignature::kRiff;
}

bool ConvertWebpToPng(const std::string& source_path, const std::string& destination_path) {
  if (source_path.empty() || destination_path.empty()) return false;
  std::vector<std::string> argv = {DecoderProgram(), AsFileArgument(source_path), "-o",
                                   AsFileArgument(destination_path)};
  ProcessOutcome outcome = RunAndWaitFor(argv, kDecoderTimeLimit);
  if (outcome.Succeeded() && IsNonEmptyFile(destination_path)) return true;
  // A decoder that failed or was killed may have left part of a PNG behind; an answer must
  // never name it.
  if (outcome.started) FileSystem::Default().DeleteFile(destination_path);
  return false;
}
