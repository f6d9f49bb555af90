#include "clipboard/capture_images.h"

#include "clipboard/clipboard_formats.h"
#include "clipboard/clipboard_reader.h"
#include "imaging/dib_data.h"
#include "imaging/image_decoder.h"
#include "imaging/image_utils.h"
#include "imaging/metafile.h"
#include "platform/file_system.h"
#include "platform/global_memory.h"
#include "platform/window_system.h"
#include "text/ascii.h"
#include "workspace/path_macros.h"
#include "workspace/request_folder.h"
#include "workspace/temp_workspace.h"

namespace {

// The formats looked at, best first.
const std::vector<ClipboardFormat> kPriority = {
    ClipboardFormat::kDib,        ClipboardFormat::kBitmap, ClipboardFormat::kEnhMetafile,
    ClipboardFormat::kTiff,       ClipboardFormat::kHdrop,  ClipboardFormat::kText,
    ClipboardFormat::kUnicodeText};

std::string LowerExtension(const std::string& path) { return AsciiLowered(FileExtension(path)); }

// Frame coordinate (0.01 mm) to screen pixels, in single precision as the screen's device
// capabilities are applied there.
int32_t FrameToPixels(int32_t hundredths_mm, int pixels, int millimeters) {
  return static_cast<int32_t>(static_cast<float>(hundredths_mm) * static_cast<float>(pixels) /
                              (static_cast<float>(millimeters) * 100.0f));
}

}  // namespace

std::string ClipboardReader::NewWorkFile(const std::string& extension) {
  std::unique_ptr<HeldFolder> folder = OpenRequestFolder(temp_path_);
  if (folder == nullptr) return {};
  std::string path = UniqueFilePath(folder->Path(), extension);
  work_folders_.push_back(std::move(folder));
  return path;
}

bool GetMetafileMetrics(const std::string& path, ImageRect* frame, ImageRect* bounds) {
  EmfHeader header;
  if (!ReadEmfHeader(path, &header)) return false;
  const ScreenMetrics screen = GetScreenMetrics();
  frame->left = FrameToPixels(header.frame.left, screen.width_pixels, screen.width_millimeters);
  frame->right = FrameToPixels(header.frame.right, screen.width_pixels, screen.width_millimeters);
  frame->top = FrameToPixels(header.frame.top, screen.height_pixels, screen.height_millimeters);
  frame->bottom =
      FrameToPixels(header.frame.bottom, screen.height_pixels, screen.height_millimeters);
  *bounds = header.bounds;
  return true;
}

void ClipboardReader::RenderMetafileToPng(std::string* png_path) {
  // The data is taken before any folder is made, so a missing metafile leaves none behind.
  std::string emf;
  if (!formats_->GetData(ClipboardFormat::kEnhMetafile, &emf)) return;
  const std::string emf_name = NewWorkFile(".emf");
  if (emf_name.empty() || !WriteFileOnce(emf_name, emf)) {
    DeleteFolderOf(emf_name);
    return;
  }
  const std::string png_name = NewWorkFile(".png");
  ImageRect frame, bounds;
  if (GetMetafileMetrics(emf_name, &frame, &bounds)) {
    ImageRenderer renderer;
    renderer.Startup();
    renderer.source = bounds;
    const int width = static_cast<int>(static_cast<float>(frame.right - frame.left) * 4.0f / 3.0f);
    const int height = static_cast<int>(static_cast<float>(frame.bottom - frame.top) * 4.0f / 3.0f);
    renderer.RenderImageScaled(emf_name, png_name, width, height);
    *png_path = png_name;
    renderer.Shutdown();
  } else {
    DeleteFolderOf(png_name);
  }
  DeleteFolderOf(emf_name);
}

// The copied files whose names say image, in order. Only regular files: a pipe, a device or
// a folder named like a picture is never opened.
bool ClipboardReader::CaptureFileList(std::vector<std::string>* candidates) {
  for (const std::string& path : formats_->FileList()) {
    if (GetFileKind(path) == FileKind::kImage && IsRegularFile(path)) {
      candidates->push_back(path);
    }
  }
  return true;
}

void ClipboardReader::ConvertCandidate(const std::string& candidate, bool user_file,
                                       std::vector<std::string>* paths) {
  if (candidate.empty()) return;
  const std::string extension = LowerExtension(candidate);
  const std::string target = extension == ".bmp" ? ".png" : extension;
  const std::string name = NewWorkFile(target);
  if (extension == ".bmp") {
    if (ConvertImageFile(candidate, name, ImageTypeFromExtension(target), 70)) {
      paths->push_back(name);
      return;
    }
    DeleteFolderOf(name);
    // The user's own file is never handed on as a captured image: the caller deletes the
    // folders of captured images.
    if (!user_file) paths->push_back(candidate);
    return;
  }
  FileSystem::Default().CopyFile(candidate, name);
  paths->push_back(name);
}

// A bitmap offered as a PNG file is handed on as that file: decoding it to a bitmap and
// encoding the bitmap again would give the same picture at several times the cost.
bool ClipboardReader::CaptureOfferedPng(std::vector<std::string>* paths) {
  std::string png;
  if (!formats_->GetOfferedPng(&png)) return false;
  const std::string name = NewWorkFile(".png");
  if (name.empty() || !WriteFileOnce(name, png)) {
    DeleteFolderOf(name);
    return false;
  }
  paths->push_back(name);
  return true;
}

// A bitmap becomes a PNG straight from memory: the bitmap file a conversion would read costs a
// write and a decode of the whole picture and changes nothing in the PNG. The bitmap file's
// name and folder are still claimed, so folders are numbered as with the file, and a bitmap
// that cannot be converted is listed under that name (no such file: no record is made of it).
void ClipboardReader::CaptureDib(const std::string& dib, std::vector<std::string>* paths) {
  const std::string bitmap_name = NewWorkFile(".bmp");
  if (bitmap_name.empty()) return;
  const std::string name = NewWorkFile(".png");
  if (SaveDibAsPng(MakeGlobalBlock(dib), name)) {
    paths->push_back(name);
  } else {
    DeleteFolderOf(name);
    paths->push_back(bitmap_name);
  }
  DeleteFolderOf(bitmap_name);
}

// A bitmap offered as a plain BMP file becomes its PNG straight from the offered rows: the DIB
// CaptureDib starts from would copy them whole (25 MB for a 4K picture) to the same file. Names
// and folders are claimed as CaptureDib claims them. False, with nothing claimed, for any other
// offer.
bool ClipboardReader::CapturePlainBitmap(std::vector<std::string>* paths) {
  std::string png;
  if (!formats_->GetPlainBitmapAsPng(&png)) return false;
  const std::string bitmap_name = NewWorkFile(".bmp");
  if (bitmap_name.empty()) return true;
  const std::string name = NewWorkFile(".png");
  if (WriteFileOnce(name, png)) {
    paths->push_back(name);
  } else {
    DeleteFolderOf(name);
    paths->push_back(bitmap_name);
  }
  DeleteFolderOf(bitmap_name);
  return true;
}

void ClipboardReader::CaptureImages(std::vector<std::string>* paths) {
  ClipboardFormat format = formats_->GetPriorityFormat(kPriority);
  if (format == ClipboardFormat::kNone || format == ClipboardFormat::kText ||
      format == ClipboardFormat::kUnicodeText) {
    return;
  }
  const bool metafile = format == ClipboardFormat::kEnhMetafile;
  if (metafile) format = ClipboardFormat::kBitmap;
  std::vector<std::string> candidates, intermediates;
  std::string data;
  if (format == ClipboardFormat::kDib) {
    if (CaptureOfferedPng(paths) || CapturePlainBitmap(paths)) return;
    // Read where the formats keep it: a 4K bitmap is 25 MB, not worth a copy.
    if (const std::string* dib = formats_->Data(format)) CaptureDib(*dib, paths);
    return;
  }
  if (format == ClipboardFormat::kHdrop) {
    CaptureFileList(&candidates);
  } else if (!formats_->GetData(format, &data)) {
    if (!metafile) return;
    std::string png;
    RenderMetafileToPng(&png);
    paths->push_back(png);
    return;
  } else {
    const std::string name = NewWorkFile(".gif");
    if (name.empty()) return;
    WriteFileOnce(name, data);
    candidates.push_back(name);
    intermediates.push_back(name);
  }
  for (const std::string& candidate : candidates) {
    ConvertCandidate(candidate, format == ClipboardFormat::kHdrop, paths);
  }
  DeleteFoldersOf(intermediates);
}
