// The codec's own base64 decode against GMime's filter, which it stands in for: the same bytes
// for clean text, and GMime's own for every oddity, also when the oddity comes after the
// first slice of a file was written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "gmime_setup.h"
#include "gobject_ptr.h"
#include "part_content.h"
#include "support/scratch_folder.h"

namespace {

using mimecodec::GPtr;

std::string GMimeDecoded(GMimePart* part) {
  GPtr<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), out.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

TEST(PartContent, Base64DecodesAsGMimesFilter) {
  mimecodec::EnsureGMime();
  scratch::ScratchFolder folder;
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAx\r\n";
  const std::string rows[] = {
      "", "QQ==", "QUI=", "QUJD", "QQ==\r\n", "QUI=\n\n", "QUJDRA", "Q", "QQ=", "=", "====",
      "QQ==QUJD", "QQ===", "Q!U@J#D$", "QU\r\nJD\r\n", "QUJD\r\n==\r\n", "QU JD", "QUJD\t",
      lines, lines + "QQ==\r\n", lines + "QUJ\r\nD", lines + "!", lines + "QQ==QUJD",
      std::string(5000, '='), std::string(9000, '\n'), "\xff\x80QUJD"};
  for (const std::string& text : rows) {
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    GPtr<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_BASE64));
    GPtr<GMimePart> part(g_mime_part_new());
    g_mime_part_set_content(part.get(), content.get());
    std::string expected = GMimeDecoded(part.get());
    EXPECT_EQ(mimecodec::PartContent(part.get()), expected) << text.substr(0, 20);
    std::string path = folder.path() + "/part";
    for (bool held : {false, true}) {
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      std::string whole = "stale";
      EXPECT_TRUE(mimecodec::WritePartContent(part.get(), fd, held ? &whole : nullptr));
      ::close(fd);
      EXPECT_EQ(scratch::ReadFile(path), expected) << text.substr(0, 20) << " (file)";
      // Handed over whole: clean text of one piece, never what GMime decodes.
      if (!held) {
        EXPECT_EQ(whole, "stale");
      } else if (text == "QUJD" || text == "QU\r\nJD\r\n" || text == "QUI=\n\n") {
        EXPECT_EQ(whole, expected) << text;
      } else if (text == "Q!U@J#D$" || text == "QQ==QUJD" || text.size() > 65536) {
        EXPECT_EQ(whole, "") << text.substr(0, 20);
      } else if (!whole.empty()) {
        EXPECT_EQ(whole, expected) << text.substr(0, 20);
      }
    }
  }
}

// Lines of 76 characters are decoded sixteen at a time: every byte value at every place of a
// block (the first, the last, where blocks overlap) either decodes as GMime decodes it or
// sends the line down the careful path, which again ends as GMime's decode.
TEST(PartContent, EveryByteInAWholeLineDecodesAsGMimesFilter) {
  mimecodec::EnsureGMime();
  const std::string line =
      "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAx+/9z\r\n";
  ASSERT_EQ(line.size(), 78u);
  for (int c = 0; c < 256; ++c) {
    for (size_t place : {0, 1, 15, 16, 31, 47, 48, 59, 60, 63, 64, 74, 75}) {
      std::string text = line + line + line;
      text[78 + place] = static_cast<char>(c);
      GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
      GPtr<GMimeDataWrapper> content(
          g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_BASE64));
      GPtr<GMimePart> part(g_mime_part_new());
      g_mime_part_set_content(part.get(), content.get());
      ASSERT_EQ(mimecodec::PartContent(part.get()), GMimeDecoded(part.get()))
          << "byte " << c << " at " << place;
    }
  }
}

// Other transfer encodings go through GMime into the same descriptor, which stays the caller's.
TEST(PartContent, OtherEncodingsGoThroughGMimeAndLeaveTheFileOpen) {
  mimecodec::EnsureGMime();
  scratch::ScratchFolder folder;
  const struct {
    GMimeContentEncoding encoding;
    std::string text, decoded;
  } rows[] = {
      {GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, "a=3Db=\r\nc\r\n", "a=bc\r\n"},
      {GMIME_CONTENT_ENCODING_8BIT, "caf\xC3\xA9\r\n", "caf\xC3\xA9\r\n"},
      {GMIME_CONTENT_ENCODING_BINARY, std::string("\0\x01=", 3), std::string("\0\x01=", 3)},
  };
  // Quoted-printable of many stream reads decodes as GMime's stream does, whatever escape or
  // soft break a read ends in.
  std::string long_text;
  for (int k = 0; k < 3000; ++k) long_text += k % 3 ? "ab=3Dc=\r\n" : "=C3=A9 =\n=4 \t\r\n";
  for (std::string text : {long_text, long_text + "=", long_text + "=4", std::string("x=\r")}) {
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    GPtr<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE));
    GPtr<GMimePart> part(g_mime_part_new());
    g_mime_part_set_content(part.get(), content.get());
    EXPECT_EQ(mimecodec::PartContent(part.get()), GMimeDecoded(part.get())) << text.size();
  }
  for (const auto& row : rows) {
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(row.text.data(), row.text.size()));
    GPtr<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), row.encoding));
    GPtr<GMimePart> part(g_mime_part_new());
    g_mime_part_set_content(part.get(), content.get());
    EXPECT_EQ(mimecodec::PartContent(part.get()), row.decoded);
    std::string path = folder.path() + "/part";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_TRUE(mimecodec::WritePartContent(part.get(), fd));
    EXPECT_EQ(::close(fd), 0) << "the descriptor was closed behind the caller's back";
    EXPECT_EQ(scratch::ReadFile(path), row.decoded);
  }
}

}  // namespace
