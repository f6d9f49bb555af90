// The clipboard commands against the real service over TLS, with the clipboard owned by our
// test owner on a private X server, or on a private Wayland compositor with no X11 at all.

#include <Magick++.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <chrono>
#include <future>
#include <optional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "integration/service_fixture.h"
#include "support/scratch_folder.h"
#include "support/wayland_compositor.h"
#include "support/x_display.h"

namespace {

using scratch::ScratchFolder;

// base64 of scratch::TinyPng(), as a record carries it (lines ended by CR LF).
const char kTinyPngBase64[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLv\r\n"
    "AAAAAElFTkSuQmCC\r\n";

std::string Envelope(const std::string& cmd, const std::string& pdu) {
  return "{\"cmd\":\"" + cmd + "\",\"session\":\"it\",\"pdu\":" + pdu + "}";
}

std::string Answer(const std::string& cmd, const std::string& pdu) {
  return "{\"cmd\":\"" + cmd + "\",\"error\":-1,\"pdu\":" + pdu + ",\"session\":\"it\"}\n";
}

// The answers for a clipboard with nothing on it, byte for byte.
const std::string kEmptyText =
    Answer("cfp-0010", "{\"clipboarddata\":\"\",\"isoffice\":1,\"type\":2}");
const std::string kEmptyHtml = Answer(
    "cfp-0011", "{\"clipboardformat\":null,\"clipboardhtml\":\"\",\"isoffice\":1,\"type\":2}");

Json::Value HtmlAndImage() {
  Json::Value both(Json::arrayValue);
  both.append("html");
  both.append("image");
  return both;
}

Json::Value ParsePdu(const std::string& body) {
  Json::Value root;
  EXPECT_TRUE(Json::Reader().parse(body, root)) << body;
  EXPECT_EQ(root["error"], -1);
  return root["pdu"];
}

std::string ScreenshotPng(int width, int height) {
  Magick::Image image(Magick::Geometry(width, height), Magick::Color("blue"));
  image.magick("PNG");
  Magick::Blob blob;
  image.write(&blob);
  return std::string(static_cast<const char*>(blob.data()), blob.length());
}

// The PNG picture a record carries.
Magick::Image RecordImage(const Json::Value& record) {
  std::string text = record["base64string"].asString();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
  Magick::Blob blob;
  blob.base64(text);
  Magick::Image image(blob);
  EXPECT_EQ(image.magick(), "PNG");
  return image;
}

std::pair<size_t, size_t> RecordImageSize(const Json::Value& record) {
  Magick::Image image = RecordImage(record);
  return {image.columns(), image.rows()};
}

std::string RgbOf(Magick::Image& image) {
  std::string rgb(image.columns() * image.rows() * 3, '\0');
  image.write(0, 0, image.columns(), image.rows(), "RGB", Magick::CharPixel, &rgb[0]);
  return rgb;
}

// The answer's body; a 200 answer is expected.
std::string PostCommand(const service_test::ServiceProcess& service, const std::string& cmd,
                        const std::string& pdu = "{}") {
  auto res = service.Client()->Post("/", Envelope(cmd, pdu), "text/plain");
  EXPECT_TRUE(res);
  if (!res) return {};
  EXPECT_EQ(res->status, 200) << res->body;
  return res->body;
}

// The running service and a clipboard owner program of one desktop; the desktop itself is the
// derived fixture's, set up before the service starts.
class ClipboardServiceTest : public service_test::RunningServiceTest {
 protected:
  explicit ClipboardServiceTest(std::string owner_program)
      : owner_program_(std::move(owner_program)) {}

  void SetUp() override {
    Magick::InitializeMagick(nullptr);
    RunningServiceTest::SetUp();
  }

  void Offer(const xtest::Offers& offers, std::vector<std::string> flags = {}) {
    owner_.reset();
    owner_ = xtest::OfferOnClipboard(offers_.path(), offers, flags, owner_program_);
    ASSERT_TRUE(owner_->ok());
  }

  std::string Post(const std::string& cmd, const std::string& pdu = "{}") {
    return PostCommand(service_, cmd, pdu);
  }

  int WorkFoldersLeft() const { return scratch::CountEntries(temp_ / "TAVU"); }

  ScratchFolder temp_;
  scratch::TempDirOverride tmpdir_{temp_.path()};
  ScratchFolder offers_;
  ScratchFolder files_;
  std::unique_ptr<xtest::ClipboardOwner> owner_;

 private:
  std::string owner_program_;
};

class ClipboardCommandsTest : public ClipboardServiceTest {
 protected:
  ClipboardCommandsTest() : ClipboardServiceTest(ORVO_CLIPBOARD_OWNER) {}
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ClipboardServiceTest::SetUp();
  }

  xtest::XServer server_;  // DISPLAY is set before the service starts
};

TEST_F(ClipboardCommandsTest, PlainTextAndEmptyClipboardAnswerExactBytes) {
  Offer({{"UTF8_STRING", "h\xC3\xA9llo \"you\""}, {"STRING", "h\xE9llo"}});
  EXPECT_EQ(Post("cfp-0010"),
            Answer("cfp-0010",
                   "{\"clipboarddata\":\"h\xC3\xA9llo \\\"you\\\"\",\"isoffice\":1,\"type\":2}"));
  EXPECT_EQ(Post("cfp-0011"),
            Answer("cfp-0011",
                   "{\"clipboardformat\":[\"html\"],\"clipboardhtml\":\"h\xC3\xA9llo "
                   "\\\"you\\\"\",\"isoffice\":1,\"type\":2}"));
  owner_.reset();
  EXPECT_EQ(Post("cfp-0010"), kEmptyText);
  EXPECT_EQ(Post("cfp-0011", "{\"temppath\":null}"), kEmptyHtml);
  EXPECT_EQ(WorkFoldersLeft(), 0);
}

TEST_F(ClipboardCommandsTest, OfficeHtmlWithLocalImagesAndABitmap) {
  scratch::WriteFile(files_ / "image001.png", scratch::TinyPng());
  const std::string image_url = "file:///" + files_.path().substr(1) + "/image001.png";
  const std::string html =
      "<html xmlns:v=\"urn:schemas-microsoft-com:vml\"><body><v:imagedata "
      "src=\"" +
      image_url +
      "\"/><img src=\"http://localhost/r.png\">"
      "</body></html>";
  Offer({{"text/html", html}, {"image/png", ScreenshotPng(30, 20)}});
  const std::string expected_html =
      "<html xmlns:v=\\\"urn:schemas-microsoft-com:vml\\\"><body><img src=\\\"" + image_url +
      "\\\"/><img src=\\\"http://localhost/r.png\\\"></body></html>";
  const std::string files = "[{\"base64string\":\"" + std::string(kTinyPngBase64) +
                            "\",\"filename\":\"image001.png\",\"filepath\":\"" + files_.path() +
                            "/image001.png\"}]";
  std::string escaped_files = files;  // as the JSON text writes CR LF
  for (size_t at; (at = escaped_files.find("\r\n")) != std::string::npos;) {
    escaped_files.replace(at, 2, "\\r\\n");
  }
  EXPECT_EQ(Post("cfp-0010"), Answer("cfp-0010", "{\"clipboarddata\":\"" + expected_html +
                                                     "\",\"files\":" + escaped_files +
                                                     ",\"isoffice\":1,\"type\":1}"));
  const Json::Value pdu = ParsePdu(Post("cfp-0011"));
  EXPECT_EQ(pdu["clipboardformat"], HtmlAndImage());
  EXPECT_EQ(pdu["clipboardhtml"].asString().substr(0, 6), "<html ");
  EXPECT_EQ(pdu["files"].size(), 1u);
  EXPECT_EQ(pdu["isoffice"], 1);
  EXPECT_EQ(pdu["type"], 1);
  EXPECT_EQ(RecordImageSize(pdu["clipboardimage"]), std::make_pair(size_t{30}, size_t{20}));
  EXPECT_EQ(WorkFoldersLeft(), 0);
  EXPECT_EQ(scratch::ReadFile(files_ / "image001.png"), scratch::TinyPng());
}

TEST_F(ClipboardCommandsTest, ScreenshotOnly) {
  Offer({{"image/png", ScreenshotPng(64, 48)}}, {"--chunk", "4096"});
  Json::Value pdu = ParsePdu(Post("cfp-0010", "{\"temppath\":\"" + temp_.path() + "\"}"));
  EXPECT_EQ(pdu["clipboarddata"], "");
  EXPECT_EQ(pdu["type"], 1);
  ASSERT_EQ(pdu["files"].size(), 1u);
  EXPECT_EQ(RecordImageSize(pdu["files"][0]), std::make_pair(size_t{64}, size_t{48}));
  EXPECT_FALSE(scratch::Exists(pdu["files"][0]["filepath"].asString()));

  pdu = ParsePdu(Post("cfp-0011"));
  EXPECT_TRUE(pdu["clipboardformat"].isNull());
  EXPECT_EQ(pdu["clipboardhtml"], "");
  EXPECT_EQ(pdu["type"], 2);
  EXPECT_EQ(pdu["files"].size(), 1u);
  EXPECT_FALSE(pdu.isMember("clipboardimage"));
  EXPECT_EQ(WorkFoldersLeft(), 0);
}

// A bitmap offered as a BMP file is answered as the PNG of its pixels: a plain 24-bit file (rows
// padded, pieces of the transfer splitting rows) straight from its rows, one with transparency
// through the decoder.
TEST_F(ClipboardCommandsTest, BitmapFilesBecomeThePngOfTheirPixels) {
  Magick::Image picture(Magick::Geometry(301, 40), Magick::Color("white"));
  for (int x = 0; x < 301; ++x) {
    picture.pixelColor(x, x % 40, Magick::ColorRGB(x % 7 / 7.0, x % 5 / 5.0, x % 3 / 3.0));
  }
  const std::string expected = RgbOf(picture);
  for (const char* magick : {"BMP3", "BMP", "BMP-matte"}) {
    SCOPED_TRACE(magick);
    Magick::Image bmp = picture;
    bmp.matte(std::string(magick) == "BMP-matte");
    bmp.magick(std::string(magick).substr(0, 4) == "BMP3" ? "BMP3" : "BMP");
    Magick::Blob blob;
    bmp.write(&blob);
    Offer({{"image/bmp", std::string(static_cast<const char*>(blob.data()), blob.length())}},
          {"--chunk", "4096"});
    const Json::Value pdu = ParsePdu(Post("cfp-0011"));
    ASSERT_EQ(pdu["files"].size(), 1u);
    Magick::Image answered = RecordImage(pdu["files"][0]);
    EXPECT_TRUE(RgbOf(answered) == expected);
    EXPECT_EQ(WorkFoldersLeft(), 0);
  }
}

TEST_F(ClipboardCommandsTest, BrowserHtmlWithRemoteImagesHasNoFiles) {
  Offer({{"text/html", "<meta charset='utf-8'><img src=\"https://localhost/a.png\">"}});
  EXPECT_EQ(Post("cfp-0010"),
            Answer("cfp-0010",
                   "{\"clipboarddata\":\"<html><body><!--StartFragment--><meta charset='utf-8'>"
                   "<img src=\\\"https://localhost/a.png\\\"><!--EndFragment--></body></html>\","
                   "\"isoffice\":0,\"type\":1}"));
}

// The user's copied files survive the clean-up of captured images, including a ".bmp" that is
// no bitmap (which, handed on as itself, would have had its whole folder deleted).
TEST_F(ClipboardCommandsTest, CopiedFilesAreNeverDeleted) {
  scratch::WriteFile(files_ / "PHOTO.PNG", scratch::TinyPng());
  scratch::WriteFile(files_ / "fake.bmp", "not a bitmap");
  scratch::WriteFile(files_ / "other.txt", "keep me");
  Offer({{"x-special/gnome-copied-files",
          "copy\nfile://" + files_.path() + "/fake.bmp\nfile://" + files_.path() + "/PHOTO.PNG"}});
  for (const char* cmd : {"cfp-0010", "cfp-0011"}) {
    const Json::Value pdu = ParsePdu(Post(cmd));
    ASSERT_EQ(pdu["files"].size(), 1u) << cmd;
    EXPECT_EQ(pdu["files"][0]["base64string"], kTinyPngBase64);
    const std::string name = pdu["files"][0]["filename"].asString();
    EXPECT_EQ(name.substr(name.size() - 4), ".png") << name;
  }
  EXPECT_EQ(scratch::ReadFile(files_ / "fake.bmp"), "not a bitmap");
  EXPECT_EQ(scratch::ReadFile(files_ / "other.txt"), "keep me");
  EXPECT_EQ(scratch::ReadFile(files_ / "PHOTO.PNG"), scratch::TinyPng());
  EXPECT_EQ(WorkFoldersLeft(), 0);
}

// With HTML present, the copied images go to "clipboardimage": only the last readable one.
TEST_F(ClipboardCommandsTest, OnlyTheLastReadableCapturedImageIsSentBesideHtml) {
  scratch::WriteFile(files_ / "a.png", scratch::TinyPng());
  scratch::WriteFile(files_ / "b.gif", "GIF89a but nothing more");
  Offer({{"text/html", "<html><body>x</body></html>"},
         {"text/uri-list", "file://" + files_.path() + "/b.gif\r\nfile://" + files_.path() +
                               "/a.png\r\nfile://" + files_.path() + "/b.gif\r\n"}});
  const Json::Value pdu = ParsePdu(Post("cfp-0011"));
  EXPECT_EQ(pdu["clipboardformat"], HtmlAndImage());
  EXPECT_EQ(pdu["clipboardhtml"], "<html><body>x</body></html>");
  EXPECT_FALSE(pdu.isMember("files"));
  EXPECT_EQ(pdu["clipboardimage"]["base64string"], kTinyPngBase64);
  EXPECT_EQ(WorkFoldersLeft(), 0);
}

// Sends cfp-0011 and, while it waits on the display, a version request: the version is answered
// at once, the clipboard request with an empty clipboard within `limit`.
void ExpectEmptyClipboardWhileOthersAreServed(const service_test::ServiceProcess& service,
                                              std::chrono::milliseconds limit) {
  const auto start = std::chrono::steady_clock::now();
  auto clipboard = std::async(std::launch::async, [&service] {
    auto res = service.Client()->Post("/", Envelope("cfp-0011", "{}"), "text/plain");
    return res ? res->body : std::string("no answer");
  });
  const auto version = service.Client()->Post("/", Envelope("cfp-1000", "{}"), "text/plain");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(clipboard.get(), kEmptyHtml);
  EXPECT_LT(std::chrono::steady_clock::now() - start, limit);
}

TEST_F(ClipboardCommandsTest, AHangingOwnerDoesNotStopOtherRequests) {
  Offer({{"text/html", "<b>x</b>"}}, {"--hang"});
  ExpectEmptyClipboardWhileOthersAreServed(service_, std::chrono::milliseconds(3500));
}

TEST_F(ClipboardCommandsTest, BadTempPathIsTheLibrarysErrorAndAGoneServerAnEmptyClipboard) {
  Offer({{"UTF8_STRING", "t"}});
  for (const std::string& pdu : {std::string("{\"temppath\":5}"), std::string("[1]")}) {
    auto res = service_.Client()->Post("/", Envelope("cfp-0010", pdu), "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500) << pdu;
  }
  owner_.reset();
  server_.Stop();
  EXPECT_EQ(Post("cfp-0010"), kEmptyText);
  EXPECT_EQ(WorkFoldersLeft(), 0);
}

// A display whose server takes the connection and never answers the handshake: the clipboard
// request costs the wait limit and answers with an empty clipboard; others are served meanwhile.
class SilentDisplayTest : public service_test::RunningServiceTest {
 protected:
  // DISPLAY points at it before the service starts.
  xtest::SilentXServer display_{xtest::SilentXServer::Transport::kUnix};
};

TEST_F(SilentDisplayTest, AServerThatNeverAnswersIsAnEmptyClipboardAndOthersAreServed) {
  ASSERT_TRUE(display_.ok());
  ExpectEmptyClipboardWhileOthersAreServed(service_, std::chrono::milliseconds(3000));
}

// The service started on a Wayland desktop without X11: WAYLAND_DISPLAY names a private
// headless compositor and DISPLAY is unset; the clipboard is owned by the Wayland test owner.
class WaylandClipboardCommandsTest : public ClipboardServiceTest {
 protected:
  WaylandClipboardCommandsTest() : ClipboardServiceTest(ORVO_WAYLAND_CLIPBOARD_OWNER) {}
  void SetUp() override {
    ASSERT_TRUE(compositor_.ok());
    ClipboardServiceTest::SetUp();
  }

  // Both set before the service starts.
  wltest::Compositor compositor_;
  scratch::EnvOverride no_display_{"DISPLAY"};
};

TEST_F(WaylandClipboardCommandsTest, TextHtmlAndPicturesComeFromTheCompositor) {
  EXPECT_NE(service_.Output().find("clipboard: Wayland"), std::string::npos) << service_.Output();
  const std::string text = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xF0\x9F\x98\x80";
  Offer({{"text/plain;charset=utf-8", text}});
  EXPECT_EQ(Post("cfp-0010"),
            Answer("cfp-0010", "{\"clipboarddata\":\"" + text + "\",\"isoffice\":1,\"type\":2}"));

  scratch::WriteFile(files_ / "picture.png", scratch::TinyPng());
  const std::string html =
      "<html><body><img src=\"file://" + files_.path() + "/picture.png\"></body></html>";
  Offer({{"text/html", html}, {"image/png", ScreenshotPng(30, 20)}});
  Json::Value pdu = ParsePdu(Post("cfp-0011"));
  EXPECT_EQ(pdu["clipboardformat"], HtmlAndImage());
  EXPECT_EQ(pdu["clipboardhtml"], html);
  ASSERT_EQ(pdu["files"].size(), 1u);
  EXPECT_EQ(pdu["files"][0]["base64string"], kTinyPngBase64);
  EXPECT_EQ(RecordImageSize(pdu["clipboardimage"]), std::make_pair(size_t{30}, size_t{20}));

  Offer({{"image/png", ScreenshotPng(64, 48)}});
  pdu = ParsePdu(Post("cfp-0010"));
  EXPECT_EQ(pdu["clipboarddata"], "");
  ASSERT_EQ(pdu["files"].size(), 1u);
  EXPECT_EQ(RecordImageSize(pdu["files"][0]), std::make_pair(size_t{64}, size_t{48}));
  EXPECT_EQ(WorkFoldersLeft(), 0);
}

// An owner that never writes or stops midway, and a compositor that stops answering, cost the
// clipboard request one wait limit; a version request is answered meanwhile.
TEST_F(WaylandClipboardCommandsTest, HungOwnersAndAStoppedCompositorDoNotStopOtherRequests) {
  for (const char* flag : {"--hang", "--stall"}) {
    SCOPED_TRACE(flag);
    Offer({{"text/html", std::string(300000, 'x')}}, {flag});
    ExpectEmptyClipboardWhileOthersAreServed(service_, std::chrono::milliseconds(3500));
  }
  Offer({{"text/html", "<b>x</b>"}});
  compositor_.Pause();
  ExpectEmptyClipboardWhileOthersAreServed(service_, std::chrono::milliseconds(3500));
  compositor_.Resume();
}

// The back end is chosen at start-up and said in the log: Wayland wherever the compositor
// offers data-control, even with DISPLAY set; else X11 when DISPLAY is set; else none, and
// the clipboard is empty.
TEST(ClipboardChoiceTest, WaylandFirstThenX11ThenNone) {
  const struct {
    bool compositor;
    const char* display;
    const char* said;
  } rows[] = {{true, ":4242", "clipboard: Wayland ("},
              {false, ":4242", "clipboard: X11 (:4242)"},
              {false, nullptr, "clipboard: none"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    std::optional<wltest::Compositor> compositor;
    if (row.compositor) compositor.emplace();
    scratch::EnvOverride wayland{"WAYLAND_DISPLAY",
                                 row.compositor ? getenv("WAYLAND_DISPLAY") : "/none/wayland-0"};
    scratch::EnvOverride display = row.display ? scratch::EnvOverride{"DISPLAY", row.display}
                                               : scratch::EnvOverride{"DISPLAY"};
    service_test::ServiceProcess service;
    ASSERT_TRUE(service.Start());
    EXPECT_EQ(PostCommand(service, "cfp-0010"), kEmptyText);
    EXPECT_NE(service.Output().find(row.said), std::string::npos) << service.Output();
    service.Client()->Get("/stop");
    EXPECT_EQ(service.WaitForExit(10000), 0);
  }
}

}  // namespace
