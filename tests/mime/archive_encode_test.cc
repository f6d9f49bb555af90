// The encoder's archive, byte for byte, beside the same archive written whole by GMime (as the
// codec wrote it before it encoded resources itself): headers plain and folded, every length of
// a last base64 line, reads of more than one piece, each page encoding.
#include <gmime/gmime.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "archive_encoder.h"
#include "gmime_setup.h"
#include "support/scratch_folder.h"

namespace {

using mimecodec::ResourceRecord;

// GMime writes page and resources; parts whose file cannot be read are left out.
std::string GMimeArchive(const std::string& page, const std::vector<ResourceRecord>& resources,
                         int encode_type) {
  GMimeMultipart* multipart = g_mime_multipart_new_with_subtype("related");
  GMimeObject* root = GMIME_OBJECT(multipart);
  g_mime_object_set_content_type_parameter(root, "type", "text/html");
  g_mime_object_prepend_header(root, "MIME-Version", "1.0", nullptr);
  std::vector<std::pair<std::string, std::string>> contents = {{"text/html", page}};
  for (const ResourceRecord& r : resources) {
    std::string bytes(reinterpret_cast<const char*>(r.bytes), r.bytes == nullptr ? 0 : r.length);
    if (r.bytes == nullptr && std::filesystem::is_regular_file(r.path))
      bytes = scratch::ReadFile(r.path);
    contents.push_back({r.media_type, bytes});
  }
  for (size_t i = 0; i < contents.size(); ++i) {
    if (contents[i].second.empty() && i > 0) continue;
    const std::string& type = contents[i].first;
    GMimePart* part = g_mime_part_new_with_type(type.substr(0, type.find('/')).c_str(),
                                                type.substr(type.find('/') + 1).c_str());
    if (i == 0) g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "utf-8");
    GMimeStream* stream =
        g_mime_stream_mem_new_with_buffer(contents[i].second.data(), contents[i].second.size());
    GMimeDataWrapper* wrapper =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, wrapper);
    bool eight_bit = encode_type == 1 && g_utf8_validate(page.data(), page.size(), nullptr);
    g_mime_part_set_content_encoding(part, i > 0 || encode_type == 3 ? GMIME_CONTENT_ENCODING_BASE64
                                           : eight_bit               ? GMIME_CONTENT_ENCODING_8BIT
                                                       : GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    if (i > 0 && !resources[i - 1].content_id.empty()) {
      std::string id = "<" + resources[i - 1].content_id + ">";
      g_mime_object_set_header(GMIME_OBJECT(part), "Content-ID", id.c_str(), nullptr);
    }
    if (i > 0 && !resources[i - 1].name.empty())
      g_mime_part_set_content_location(part, resources[i - 1].name.c_str());
    g_mime_multipart_add(multipart, GMIME_OBJECT(part));
    g_object_unref(wrapper);
    g_object_unref(stream);
    g_object_unref(part);
  }
  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  char* text = g_mime_object_to_string(root, options);
  std::string archive = text;
  g_free(text);
  g_mime_format_options_free(options);
  g_object_unref(multipart);
  return archive;
}

std::string WithoutBoundary(const std::string& archive) {
  return std::regex_replace(archive, std::regex("=-[A-Za-z0-9+/]{10,}"), "<B>");
}

TEST(ArchiveEncode, WritesWhatGMimeWrites) {
  mimecodec::EnsureGMime();
  scratch::ScratchFolder folder;
  std::vector<ResourceRecord> resources;
  const size_t sizes[] = {1, 2, 3, 56, 57, 58, 114, 57 * 4096 * 2 + 5};
  std::vector<std::string> held(std::size(sizes));
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string path = folder / ("r" + std::to_string(i));
    std::string& bytes = held[i];
    bytes.assign(sizes[i], '\0');
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 7 + i);
    scratch::WriteFile(path, bytes);
    resources.push_back({"abcdefghijkl@x.test", path, "20261207123456_AB.png", "image/png"});
    // The same content handed over in memory: its path, missing, is never looked at.
    resources.push_back({"in-memory@x.test", folder / "missing", "m.png", "image/png",
                         reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
  }
  std::string r0 = resources[0].path;
  // A pipe in a file's place is left out at once: opening it for reading must not wait.
  std::string pipe = folder / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  resources.insert(
      resources.end(),
      {
          {"", r0, "", "image/svg+xml"},
          {"a b", r0, "a name with spaces and a long tail that goes on and on and on.png",
           "image/png"},
          {"id", r0, "\xED\x95\x9C.png", "Image/PNG"},
          {"id", r0, std::string(54, 'n') + ".png", "text/css"},  // a line of 76 characters
          {"id", r0, std::string(99, 'n') + ".png", "text/css"},
          {"id", folder / "missing", "gone.png", "image/png"},
          {"id", folder.path(), "folder.png", "image/png"},
          {"id", pipe, "pipe.png", "image/png"},
          {"id", r0, "empty.png", "image/png", reinterpret_cast<const unsigned char*>(""), 0},
      });
  const std::string pages[] = {"<p>x</p>", "<p>\xC3\xA9</p>\r\n", "<p>x</p>\r", "<p>\xFF</p>\n"};
  for (int type : {1, 2, 3}) {
    for (const std::string& page : pages) {
      mimecodec::EncodeSettings settings;
      settings.encode_type = type;
      char* text = nullptr;
      size_t length = 0;
      ASSERT_TRUE(mimecodec::EncodeArchive(page, resources, settings, &text, &length));
      std::string ours(text, length);
      g_free(text);
      // Compared whole, reported short: the archive runs to hundreds of kilobytes.
      std::string expected = WithoutBoundary(GMimeArchive(page, resources, type));
      ours = WithoutBoundary(ours);
      auto differ = std::mismatch(ours.begin(), ours.end(), expected.begin(), expected.end());
      EXPECT_TRUE(ours == expected)
          << type << " " << page << " first difference at " << (differ.first - ours.begin()) << ": "
          << std::string(differ.first, ours.end()).substr(0, 200);
    }
  }
}

}  // namespace
