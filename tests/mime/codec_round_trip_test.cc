// The codec component loaded from the build's dist folder through the service's client: what
// goes in as a page and resources comes out of Decode as the same bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "mime/mime_codec_client.h"
#include "support/exported_symbols.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ReadFile;
using scratch::ScratchFolder;
using scratch::WriteFile;

const char kDist[] = MIME_TEST_DIST_DIR;

ResourceEntry Resource(std::string id, std::string path, std::string name, std::string type) {
  ResourceEntry entry;
  entry.content_id = std::move(id);
  entry.location = entry.local_file = std::move(path);
  entry.file_name = std::move(name);
  entry.media_type = std::move(type);
  return entry;
}

TEST(MimeCodecComponentFile, ExportsOnlyItsFactory) {
  // GMime's, GLib's, libstdc++'s and our own HTML engine's symbols stay inside the component.
  bool ok = false;
  auto exported = scratch::ExportedSymbols(std::string(kDist) + "mimearchivecodec.so", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(exported, (std::set<std::string>{"GetMimeArchiveCodec"}));
}

TEST(MimeCodecClient, FindsTheComponentAndNotAMissingOne) {
  EXPECT_TRUE(MimeCodecClient(kDist).IsAvailable());
  ScratchFolder empty;
  EXPECT_FALSE(MimeCodecClient(empty.path() + "/").IsAvailable());
  EXPECT_FALSE(MimeCodecClient("").IsAvailable());
}

TEST(MimeCodecClient, RoundTripKeepsPageAndResourceBytesForEveryEncodeType) {
  ScratchFolder folder;
  std::string png = scratch::TinyPng();
  std::string binary("\x00\x01\xFF\r\n--\r\n=3D", 10);
  WriteFile(folder / "a.png", png);
  WriteFile(folder / "b|c.dat", binary);  // a name holding what once separated the list
  const std::string page =
      "<html><body>\xED\x95\x9C <img src=\"cid:A1@orvo\"><a href=\"cid:B2@orvo\">x</a>\n"
      "=== --boundary-like line\r\n</body></html>";
  std::vector<ResourceEntry> resources = {
      Resource("A1@orvo", folder.Path("a.png"), "a.png", "image/png"),
      Resource("B2@orvo", folder.Path("b|c.dat"), "b|c.dat", ""),
      Resource("C3@orvo", folder.Path("gone.png"), "held.png", "image/png")};
  resources[2].bytes = png + "held";  // read by the service already: its file is not opened
  for (int type : {1, 2, 3, 7}) {
    SCOPED_TRACE(type);
    MimeCodecClient::EncodeSettings settings;
    settings.encode_type = type;
    std::string archive;
    ASSERT_TRUE(MimeCodecClient(kDist).Encode(page, resources, settings, archive));
    EXPECT_NE(archive.find("multipart/related"), std::string::npos);
    for (size_t at = archive.find('\n'); at != std::string::npos; at = archive.find('\n', at + 1)) {
      ASSERT_TRUE(at > 0 && archive[at - 1] == '\r') << "bare line feed at " << at;
    }

    ScratchFolder out;
    ASSERT_TRUE(MimeCodecClient(kDist).Decode(archive, out.path() + "/"));
    EXPECT_EQ(ReadFile(out / "a.png"), png);
    EXPECT_EQ(ReadFile(out / "b_c.dat"), binary);
    EXPECT_EQ(ReadFile(out / "held.png"), png + "held");
    std::string expected = page;
    expected.replace(expected.find("cid:A1@orvo"), 11, "a.png");
    expected.replace(expected.find("cid:B2@orvo"), 11, "b_c.dat");
    if (type == 1 || type == 2) {  // text encodings carry lines: a lone LF comes back CR LF
      expected.replace(expected.find("</a>\n"), 5, "</a>\r\n");
    }
    EXPECT_EQ(ReadFile(out / "noname.htm"), expected);
  }
}

TEST(MimeCodecClient, UnreadableResourcesAreLeftOutNeverWrittenEmpty) {
  ScratchFolder folder;
  WriteFile(folder / "good.png", scratch::TinyPng());
  WriteFile(folder / "empty.png", "");
  ASSERT_EQ(::mkfifo((folder / "fifo.png").c_str(), 0600), 0);  // would block a plain open
  std::vector<ResourceEntry> resources;
  for (const char* name : {"missing.png", "empty.png", "fifo.png", "good.png"}) {
    resources.push_back(Resource(std::string("id-") + name, folder.Path(name), name, "image/png"));
  }
  resources.push_back(Resource("id-folder", folder.path(), "folder.png", "image/png"));
  std::string archive;
  ASSERT_TRUE(MimeCodecClient(kDist).Encode("<p>", resources, {}, archive));
  EXPECT_EQ(archive.find("Content-ID"), archive.rfind("Content-ID"));
  EXPECT_NE(archive.find("Content-ID: <id-good.png>"), std::string::npos);
  ScratchFolder out;
  ASSERT_TRUE(MimeCodecClient(kDist).Decode(archive, out.path()));
  EXPECT_EQ(scratch::CountEntries(out.path()), 2);
  EXPECT_EQ(ReadFile(out / "good.png"), scratch::TinyPng());
}

}  // namespace
