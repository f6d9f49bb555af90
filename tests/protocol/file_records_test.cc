#include "protocol/file_records.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "imaging/image_utils.h"
#include "platform/file_system.h"
#include "protocol/answer_files.h"
#include "protocol/json_writer.h"
#include "support/generated_png.h"
#include "support/scratch_folder.h"

namespace {

using scratch::ScratchFolder;
using scratch::StdoutCapture;
using scratch::TinyPng;
using scratch::WriteFile;

std::string Bytes(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(i * 7 + 3);
  return out;
}

TEST(Base64EncodeTest, Rfc4648VectorsEachEndedByCrLf) {
  struct Row {
    std::string in;
    std::string out;
  } const rows[] = {
      {"", ""},
      {"f", "Zg==\r\n"},
      {"fo", "Zm8=\r\n"},
      {"foo", "Zm9v\r\n"},
      {"foob", "Zm9vYg==\r\n"},
      {"fooba", "Zm9vYmE=\r\n"},
      {"foobar", "Zm9vYmFy\r\n"},
      {std::string("\xFB\xFF\xBF", 3), "+/+/\r\n"},
      {std::string("\0\0\0", 3), "AAAA\r\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(Base64Encode(row.in), row.out) << row.in;
}

TEST(Base64EncodeTest, LinesOf76Characters) {
  std::string one_line = Base64Encode(Bytes(57));
  ASSERT_EQ(one_line.size(), 78u);
  EXPECT_EQ(one_line.substr(76), "\r\n");
  EXPECT_EQ(one_line.find('\r'), 76u);

  std::string two_lines = Base64Encode(Bytes(58));
  ASSERT_EQ(two_lines.size(), 78u + 6u);
  EXPECT_EQ(two_lines.substr(0, 78), one_line);
  EXPECT_EQ(two_lines.substr(80), "==\r\n");

  std::string many = Base64Encode(Bytes(57 * 3 + 2));
  EXPECT_EQ(many.size(), 3 * 78u + 6u);
  for (size_t line = 0; line < 3; ++line) EXPECT_EQ(many.substr(line * 78 + 76, 2), "\r\n");
  EXPECT_EQ(many.substr(many.size() - 3), "=\r\n");
}

TEST(Base64EncodeTest, WritesExactlyIntoTheAnnouncedRoom) {
  for (size_t n : {0, 1, 2, 3, 56, 57, 58, 113, 114, 115, 1000, 4096}) {
    size_t room = Base64BufferSize(n);
    std::string buffer(room + 8, '#');
    size_t written =
        Base64Encode(reinterpret_cast<const unsigned char*>(Bytes(n).data()), n, buffer.data());
    EXPECT_EQ(written + 1, room) << n;  // the formula's room is used to the last byte
    EXPECT_EQ(buffer[written], '\0') << n;
    EXPECT_EQ(buffer.substr(room), std::string(8, '#')) << n;

    // The form written inside a JSON string: the same text with escaped line ends, filling its
    // announced room exactly.
    std::string escaped(Base64EscapedSize(n) + 8, '#');
    written = Base64EncodeEscaped(reinterpret_cast<const unsigned char*>(Bytes(n).data()), n,
                                  escaped.data());
    EXPECT_EQ(written, Base64EscapedSize(n)) << n;
    std::string expected = Base64Encode(Bytes(n));
    for (size_t at = expected.find("\r\n"); at != std::string::npos;
         at = expected.find("\r\n", at + 4)) {
      expected.replace(at, 2, "\\r\\n");
    }
    EXPECT_EQ(escaped, expected + std::string(8, '#')) << n;
  }
}

TEST(Base64EncodeTest, MatchesAReferenceDecoding) {
  std::string data = Bytes(10000);
  std::string text = Base64Encode(data);
  std::string bits;
  std::string decoded;
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  unsigned value = 0;
  int count = 0;
  for (char c : text) {
    size_t index = alphabet.find(c);
    if (index == std::string::npos) continue;
    value = (value << 6) | static_cast<unsigned>(index);
    count += 6;
    if (count >= 8) {
      count -= 8;
      decoded.push_back(static_cast<char>((value >> count) & 0xFF));
    }
  }
  EXPECT_EQ(decoded, data);
}

class FileRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitializeImaging());
    WriteFile(temp_ / "a.png", TinyPng());
    WriteFile(temp_ / "b.png", TinyPng() + "trailer");
    WriteFile(temp_ / "notes.txt", "plain text");
    WriteFile(temp_ / "empty.png", "");
  }
  ScratchFolder temp_;
};

TEST_F(FileRecordsTest, EncodeFileBase64ChecksImagesOnlyWhenAsked) {
  EncodedFile encoded;
  ASSERT_TRUE(EncodeFileBase64(temp_ / "a.png", ImageOnly::kYes, encoded));
  EXPECT_EQ(encoded.size, TinyPng().size());
  EXPECT_EQ(std::string(encoded.text.get(), encoded.text_length), Base64Encode(TinyPng()));
  EXPECT_EQ(encoded.text.get()[encoded.text_length], '\0');

  EXPECT_FALSE(EncodeFileBase64(temp_ / "notes.txt", ImageOnly::kYes, encoded));
  ASSERT_TRUE(EncodeFileBase64(temp_ / "notes.txt", ImageOnly::kNo, encoded));
  EXPECT_EQ(std::string(encoded.text.get(), encoded.text_length), "cGxhaW4gdGV4dA==\r\n");
  EXPECT_FALSE(EncodeFileBase64(temp_ / "empty.png", ImageOnly::kNo, encoded));
  EXPECT_FALSE(EncodeFileBase64(temp_ / "missing.png", ImageOnly::kNo, encoded));
  EXPECT_FALSE(EncodeFileBase64(temp_.path(), ImageOnly::kNo, encoded));
}

// The image test runs on the mapped bytes; a picture whose headers are too long to be copied
// out for the image library is tested from its file instead.
TEST_F(FileRecordsTest, ImageTestOnTheMappedFile) {
  std::string png = generated_png::NoisePng(30, 20, 1);
  std::string text_chunk;
  generated_png::PutChunk(&text_chunk, "tEXt",
                          "Comment" + std::string(1, '\0') + std::string(300 * 1024, 'x'));
  struct Row {
    const char* name;
    std::string bytes;
    bool passes;
  } const rows[] = {
      {"plain.png", png, true},
      {"long-headers.png", png.substr(0, 33) + text_chunk + png.substr(33), true},
      {"cut.png", png.substr(0, png.size() - 20), false},
      {"text.png", "just text, no picture", false},
  };
  for (const Row& row : rows) {
    WriteFile(temp_ / row.name, row.bytes);
    EncodedFile encoded;
    EXPECT_EQ(EncodeFileBase64(temp_ / row.name, ImageOnly::kYes, encoded), row.passes) << row.name;
  }
}

TEST_F(FileRecordsTest, PipesAndDevicesAreNeverRead) {
  std::string fifo = temp_ / "pipe.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EncodedFile encoded;
  // A blocking read here would hang the test (and, in the service, the request).
  EXPECT_FALSE(EncodeFileBase64(fifo, ImageOnly::kYes, encoded));
  EXPECT_FALSE(EncodeFileBase64(fifo, ImageOnly::kNo, encoded));
  EXPECT_FALSE(EncodeFileBase64("/dev/zero", ImageOnly::kYes, encoded));
}

TEST_F(FileRecordsTest, RiffFilesPassTheImageTest) {
  WriteFile(temp_ / "w.webp", "RIFF");
  WriteFile(temp_ / "short.webp", "RIF");
  EncodedFile encoded;
  EXPECT_TRUE(EncodeFileBase64(temp_ / "w.webp", ImageOnly::kYes, encoded));
  EXPECT_FALSE(EncodeFileBase64(temp_ / "short.webp", ImageOnly::kYes, encoded));
}

// Sparse files: the size is real, no data is written or read.
TEST_F(FileRecordsTest, FilesTooLargeForARecordAreSkippedNotTruncated) {
  struct Row {
    const char* name;
    off_t size;
  } const rows[] = {
      {"huge.bin", off_t{4} << 30},            // 4 GiB: beyond the 32-bit size
      {"big.bin", off_t{1600} * 1024 * 1024},  // its text would pass the string limit
  };
  for (const Row& row : rows) {
    std::string path = temp_ / row.name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, row.size), 0);
    ::close(fd);
    EncodedFile encoded;
    StdoutCapture capture;
    EXPECT_FALSE(EncodeFileBase64(path, ImageOnly::kNo, encoded));
    EXPECT_EQ(capture.Text(), "\n file too large for a record [" + path + "]");
    EXPECT_EQ(encoded.text, nullptr);
  }
}

TEST_F(FileRecordsTest, AppendFileRecordsKeepsOrderAndExistingRecords) {
  Json::Value array(Json::arrayValue);
  array.append("already there");
  EXPECT_TRUE(AppendFileRecords(
      {"file://" + temp_ / "a.png", temp_ / "notes.txt", temp_ / "empty.png", temp_ / "b.png"},
      array, RecordKey::kBase64String, AnyFile::kNo, nullptr));
  ASSERT_EQ(array.size(), 3u);
  EXPECT_EQ(array[0].asString(), "already there");
  EXPECT_EQ(array[1]["filename"].asString(), "a.png");
  EXPECT_EQ(array[1]["filepath"].asString(), temp_ / "a.png");
  EXPECT_EQ(array[1]["base64string"].asString(), Base64Encode(TinyPng()));
  EXPECT_EQ(array[1].size(), 3u);
  EXPECT_EQ(array[2]["filename"].asString(), "b.png");
}

TEST_F(FileRecordsTest, AppendFileRecordsFlags) {
  Json::Value any(Json::arrayValue);
  EXPECT_TRUE(AppendFileRecords({temp_ / "notes.txt", temp_ / "empty.png"}, any,
                                RecordKey::kBase64String, AnyFile::kYes, nullptr));
  ASSERT_EQ(any.size(), 1u);
  EXPECT_EQ(any[0]["base64string"].asString(), "cGxhaW4gdGV4dA==\r\n");

  Json::Value med(Json::arrayValue);
  EXPECT_TRUE(
      AppendFileRecords({temp_ / "notes.txt"}, med, RecordKey::kMedFile, AnyFile::kNo, nullptr));
  ASSERT_EQ(med.size(), 1u);
  EXPECT_EQ(med[0]["medfile"].asString(), "cGxhaW4gdGV4dA==\r\n");
  EXPECT_FALSE(med[0].isMember("base64string"));

  Json::Value none(Json::arrayValue);
  EXPECT_FALSE(AppendFileRecords({temp_ / "notes.txt"}, none, RecordKey::kBase64String,
                                 AnyFile::kNo, nullptr));
  EXPECT_EQ(none.size(), 0u);
}

TEST_F(FileRecordsTest, MakeImageRecordKeepsTheLastImage) {
  Json::Value value = "old";
  StdoutCapture capture;
  EXPECT_TRUE(
      MakeImageRecord({temp_ / "a.png", temp_ / "notes.txt", temp_ / "b.png"}, value, nullptr));
  EXPECT_EQ(capture.Text(), "\nadd base64 [a.png]\nadd base64 [b.png]");
  EXPECT_EQ(value["filename"].asString(), "b.png");
  EXPECT_EQ(value["base64string"].asString(), Base64Encode(TinyPng() + "trailer"));
  EXPECT_EQ(value.size(), 2u);

  Json::Value untouched = "old";
  EXPECT_FALSE(MakeImageRecord({temp_ / "notes.txt"}, untouched, nullptr));
  EXPECT_EQ(untouched.asString(), "old");
}

TEST_F(FileRecordsTest, FillFileContentsAddsContentToImagesOnly) {
  Json::Value files(Json::arrayValue);
  files[0]["filepath"] = temp_ / "a.png";
  files[0]["id"] = 7;
  files[1]["filepath"] = temp_ / "notes.txt";
  files[2]["other"] = true;
  files[3]["filepath"] = "file://" + temp_ / "a.png";  // used as given: not read
  FillFileContents(files, nullptr);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0]["base64string"].asString(), Base64Encode(TinyPng()));
  EXPECT_EQ(files[0]["id"].asInt(), 7);
  EXPECT_EQ(WriteCompactJson(files[1]), "{\"filepath\":\"" + temp_ / "notes.txt" + "\"}\n");
  EXPECT_EQ(WriteCompactJson(files[2]), "{\"filepath\":null,\"other\":true}\n");
  EXPECT_FALSE(files[3].isMember("base64string"));
}

TEST_F(FileRecordsTest, FillFileContentsLeavesNonArraysAndRejectsNonObjects) {
  Json::Value object(Json::objectValue);
  object["filepath"] = temp_ / "a.png";
  FillFileContents(object, nullptr);
  EXPECT_FALSE(object.isMember("base64string"));

  Json::Value strings(Json::arrayValue);
  strings.append("a.png");
  try {
    FillFileContents(strings, nullptr);
    FAIL() << "no error raised";
  } catch (const Json::LogicError& error) {
    EXPECT_STREQ(error.what(), "in Json::Value::resolveReference(key, end): requires objectValue");
  }
}

TEST_F(FileRecordsTest, SerialisedLineEndsAreJsonEscapes) {
  Json::Value array(Json::arrayValue);
  ASSERT_TRUE(AppendFileRecords({temp_ / "notes.txt"}, array, RecordKey::kBase64String,
                                AnyFile::kYes, nullptr));
  std::string json = WriteCompactJson(array);
  EXPECT_NE(json.find("\"base64string\":\"cGxhaW4gdGV4dA==\\r\\n\""), std::string::npos) << json;
}

}  // namespace

namespace {

// Within a command, records hold stand-ins that the answer's writer fills from the files.
TEST_F(FileRecordsTest, StandInsSerialiseLikeCopiedTexts) {
  Json::Value copied(Json::arrayValue);
  copied[0]["filepath"] = temp_ / "a.png";
  copied[1]["filepath"] = temp_ / "notes.txt";
  copied[2]["filepath"] = temp_ / "b.png";
  Json::Value referred = copied;
  FillFileContents(copied, nullptr);
  Json::Value records(Json::arrayValue);
  AnswerFiles files;
  FillFileContents(referred, &files);
  ASSERT_TRUE(AppendFileRecords({temp_ / "notes.txt", temp_ / "b.png"}, records,
                                RecordKey::kMedFile, AnyFile::kNo, &files));
  EXPECT_NE(referred[0]["base64string"], copied[0]["base64string"]);  // a stand-in
  Json::Value envelope(Json::objectValue);
  envelope["files"] = referred;  // copies on the way into the answer, as the builders make
  envelope["records"] = records;
  Json::Value expected(Json::objectValue);
  expected["files"] = copied;
  expected["records"][0]["filename"] = "notes.txt";
  expected["records"][0]["filepath"] = temp_ / "notes.txt";
  expected["records"][0]["medfile"] = Base64Encode("plain text");
  expected["records"][1]["filename"] = "b.png";
  expected["records"][1]["filepath"] = temp_ / "b.png";
  expected["records"][1]["medfile"] = Base64Encode(TinyPng() + "trailer");
  EXPECT_EQ(WriteCompactJson(envelope, &files), WriteCompactJson(expected));
}

// A file cut short by someone else between the image test and the answer is left out of the
// answer as if it had never been read; the service goes on.
TEST_F(FileRecordsTest, FileShortenedBeforeTheAnswerIsLeftOut) {
  std::string big = temp_ / "big.bin";
  WriteFile(big, Bytes(3 << 20));
  AnswerFiles files;
  Json::Value records(Json::arrayValue);
  ASSERT_TRUE(AppendFileRecords({temp_ / "notes.txt", big}, records, RecordKey::kBase64String,
                                AnyFile::kYes, &files));
  ASSERT_EQ(::truncate(big.c_str(), 4096), 0);
  std::string json = WriteCompactJson(records, &files);
  EXPECT_EQ(json,
            "[{\"base64string\":\"cGxhaW4gdGV4dA==\\r\\n\",\"filename\":\"notes.txt\","
            "\"filepath\":\"" +
                temp_ / "notes.txt" + "\"},{\"filename\":\"big.bin\",\"filepath\":\"" + big +
                "\"}]\n");
}

}  // namespace

namespace {

// The envelope of the streaming tests: records of paths with some escaped text around them.
Json::Value RecordsEnvelope(const std::vector<std::string>& paths, AnswerFiles* files) {
  Json::Value envelope(Json::objectValue);
  envelope["records"] = Json::Value(Json::arrayValue);
  EXPECT_TRUE(AppendFileRecords(paths, envelope["records"], RecordKey::kBase64String, AnyFile::kYes,
                                files));
  envelope["tail"] = "quote \" and \x01";
  return envelope;
}

// The bytes of stream from offset on, taken piece bytes at a time; false when a read failed.
bool ReadStream(const StreamedAnswer& stream, size_t offset, size_t piece, std::string* got) {
  std::vector<char> buffer(piece);
  while (offset < stream.size()) {
    size_t count = 0;
    if (!stream.Read(offset, buffer.data(), piece, &count)) return false;
    EXPECT_GT(count, 0u);
    if (count == 0) return false;
    got->append(buffer.data(), count);
    offset += count;
  }
  return true;
}

}  // namespace

// A streamed answer is byte for byte the answer written whole, whatever pieces the connection
// takes it in and wherever it starts (a range of the body).
TEST_F(FileRecordsTest, StreamedAnswerIsTheWholeTextInAnyPieces) {
  WriteFile(temp_ / "big.bin", Bytes((1 << 20) + 5));  // ends on a short line
  WriteFile(temp_ / "lines.bin", Bytes(57 * 3));       // ends on a whole line
  std::vector<std::string> paths = {temp_ / "lines.bin", temp_ / "big.bin", temp_ / "notes.txt"};
  // A long text with every kind of escape, held as an archive is, goes first.
  auto text = std::make_shared<std::string>();
  for (int k = 0; k < 3000; ++k)
    text->append("a \"q\" \\ \x01\x1f\t\r\n" + std::string(k % 40, 'x'));
  auto envelope = [&](AnswerFiles& files) {
    Json::Value value = RecordsEnvelope(paths, &files);
    value["archive"] = files.ReferText(*text, text);
    return value;
  };
  std::string whole;
  {
    AnswerFiles files;
    whole = WriteCompactJson(envelope(files), &files);
    EXPECT_EQ(files.TakeStream(whole), nullptr);  // not allowed to stream: the text is whole
  }
  AnswerFiles files;
  files.AllowStreaming();
  std::string skeleton = WriteCompactJson(envelope(files), &files);
  std::unique_ptr<StreamedAnswer> stream = files.TakeStream(skeleton);
  ASSERT_NE(stream, nullptr);
  EXPECT_LT(skeleton.size(), 1000u);
  ASSERT_EQ(stream->size(), whole.size());
  struct Row {
    size_t from;
    size_t piece;
  } const rows[] = {
      {0, 128 * 1024},
      {0, 80},
      {0, 79},
      {0, 81},
      {5, 4096},
      {whole.size() / 2 + 3, 1000},
      {7, 5},
      {30000, 3},
      {whole.size() - 300, 1},
      {whole.size() - 1, 80},
  };
  for (const Row& row : rows) {
    std::string got;
    ASSERT_TRUE(ReadStream(*stream, row.from, row.piece, &got)) << row.from << " " << row.piece;
    EXPECT_TRUE(got == whole.substr(row.from)) << row.from << " " << row.piece;
  }
}

// Base64 text a worker found already spelt as the answer spells it (an archive's) goes out
// exactly as the file's own encoding would, whole or streamed in any pieces.
TEST_F(FileRecordsTest, QuotedBase64IsWhatTheFileWouldGive) {
  std::string bytes = Bytes((1 << 20) + 5);
  WriteFile(temp_ / "big.bin", bytes);
  auto quoted = std::make_shared<std::string>("pad" + Base64Encode(bytes));
  auto envelope = [&](AnswerFiles& files, bool quote) {
    std::string_view text = std::string_view(*quoted).substr(3);
    if (quote) files.KeepEncoded(temp_ / "big.bin", {text, bytes.size(), quoted});
    return RecordsEnvelope({temp_ / "big.bin"}, &files);
  };
  AnswerFiles plain, whole_quoted, streamed;
  std::string whole = WriteCompactJson(envelope(plain, false), &plain);
  EXPECT_TRUE(WriteCompactJson(envelope(whole_quoted, true), &whole_quoted) == whole);
  streamed.AllowStreaming();
  std::unique_ptr<StreamedAnswer> stream =
      streamed.TakeStream(WriteCompactJson(envelope(streamed, true), &streamed));
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->size(), whole.size());
  for (size_t piece : {size_t{128} << 10, size_t{80}, size_t{79}, size_t{3}}) {
    for (size_t from : {size_t{0}, size_t{7}, whole.size() - 500}) {
      std::string got;
      ASSERT_TRUE(ReadStream(*stream, from, piece, &got)) << from << " " << piece;
      EXPECT_TRUE(got == whole.substr(from)) << from << " " << piece;
    }
  }
}

// A file cut short by someone else after the answer's size was fixed makes the stream fail
// instead of sending wrong bytes or ending the service.
TEST_F(FileRecordsTest, StreamedAnswerFailsWhenItsFileIsCutShort) {
  std::string big = temp_ / "big.bin";
  WriteFile(big, Bytes(3 << 20));
  AnswerFiles files;
  files.AllowStreaming();
  std::string skeleton = WriteCompactJson(RecordsEnvelope({big}, &files), &files);
  std::unique_ptr<StreamedAnswer> stream = files.TakeStream(skeleton);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(::truncate(big.c_str(), 4096), 0);
  std::string got;
  EXPECT_FALSE(ReadStream(*stream, 0, 1000, &got));
  EXPECT_GT(got.size(), 4096u);  // what is left of the file still goes out
  EXPECT_LT(got.size(), 8192u);
  EXPECT_EQ(got.substr(0, 29), "{\"records\":[{\"base64string\":\"");
}

namespace {

size_t MappingCount() {
  std::string maps = scratch::ReadFile("/proc/self/maps");
  return static_cast<size_t>(std::count(maps.begin(), maps.end(), '\n'));
}

// An archive of a hundred thousand parts must not need a mapping per part: the process's
// limit on mappings (65530) would leave parts out of the answer, or fail the request.
TEST_F(FileRecordsTest, SmallFilesOfAnAnswerTakeNoMappingEach) {
  std::vector<std::string> paths;
  for (int k = 0; k < 400; ++k) {
    paths.push_back(temp_ / ("part" + std::to_string(k)));
    WriteFile(paths.back(), "part " + std::to_string(k));
  }
  AnswerFiles files;
  Json::Value records(Json::arrayValue);
  size_t before = MappingCount();
  ASSERT_TRUE(AppendFileRecords(paths, records, RecordKey::kBase64String, AnyFile::kYes, &files));
  EXPECT_LT(MappingCount(), before + 100);
  EXPECT_EQ(records.size(), paths.size());
  EXPECT_TRUE(files.complete());
  EXPECT_NE(WriteCompactJson(records, &files).find("\"cGFydCAzOTk=\\r\\n\""), std::string::npos);
}

// Bytes a worker kept of a file it wrote stand for the file once: they pass the same tests as
// the file would, and a second record of the same path reads the file.
TEST_F(FileRecordsTest, KeptBytesStandForTheirFileOnce) {
  const struct {
    const char* what;
    const char* name;
    std::string kept;
    AnyFile any_file;
    std::vector<std::string> contents;  // of the records, in order
  } rows[] = {
      {"kept bytes, then the file", "notes.txt", "kept", AnyFile::kYes, {"kept", "plain text"}},
      {"kept bytes tested as an image", "a.png", "kept", AnyFile::kNo, {TinyPng()}},
      {"kept picture of a text file", "notes.txt", TinyPng(), AnyFile::kNo, {TinyPng()}},
      {"kept empty bytes give no record", "a.png", "", AnyFile::kYes, {TinyPng()}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    AnswerFiles files;
    files.KeepBytes(temp_ / row.name, HeldBytes(row.kept));
    Json::Value records(Json::arrayValue);
    AppendFileRecords({temp_ / row.name, temp_ / row.name}, records, RecordKey::kBase64String,
                      row.any_file, &files);
    Json::Value expected(Json::arrayValue);
    for (const std::string& content : row.contents) {
      Json::Value record(Json::objectValue);
      record["filename"] = row.name;
      record["filepath"] = temp_ / row.name;
      record["base64string"] = Base64Encode(content);
      expected.append(record);
    }
    EXPECT_EQ(WriteCompactJson(records, &files), WriteCompactJson(expected));
  }
}

}  // namespace
