#ifndef ORVO_COMPONENTS_MIME_CODEC_MIME_CODEC_INTERFACE_H_
#define ORVO_COMPONENTS_MIME_CODEC_MIME_CODEC_INTERFACE_H_

// The binary contract of the MIME archive codec component (mimearchivecodec.so), shared by the
// component and the service that loads it with dlopen. Plain C types only: the two sides may be
// built by different compilers.
//
// The component exports one symbol, "GetMimeArchiveCodec", which hands out a table of
// functions. An instance is made by `create`, configured and used through the members (in the
// order they stand in the table) and ended by `release`. Results are HRESULT-like: a
// non-negative value is success, a negative one failure. Text is zero-terminated UTF-8; paths
// use '/'.
//
// Thread-safety: instances are independent and may be created, used and released on several
// threads at once; one instance belongs to one thread at a time. The component initialises
// GMime once per process, on the first `create`.
//
// ENCODE writes one archive text:
//  - "MIME-Version: 1.0" and "Content-Type: multipart/related; type="text/html"; boundary=...",
//    CRLF line ends throughout. The boundary is random and checked against the content, so it
//    cannot occur in it.
//  - The page comes first, as "text/html; charset=..." (the charset set by put_Charset, "utf-8"
//    when none was set), with the transfer encoding of put_EncodeType: 1 8bit, 2
//    quoted-printable, 3 base64 (also the default and what any other value selects). A page
//    that is not valid UTF-8 is never written 8bit (quoted-printable instead), so every line of
//    the output is 7-bit or valid UTF-8. 8bit and quoted-printable carry the page as lines of
//    text (RFC 2045), so a lone line feed in it comes back from Decode as CR LF; base64 keeps
//    every byte.
//  - Then one part per resource, in the order given: the record's media type (else
//    "application/octet-stream"), base64, "Content-ID: <cid>", and "Content-Location" set to
//    the stored file name. A resource whose file cannot be read is left out, never written
//    empty. Bytes the caller hands over are written as they are, their file left alone: a
//    page of thousands of small pictures reads each once, in the service.
//  - put_EncodeRange, put_IntegerOption and put_BooleanOption are accepted and change nothing
//    in the output: the service has already cut the page to the range it asked for, and the
//    archive format has no other switch they could select.
//
// DECODE reads archives made by this codec and by others (browser MHTML, office-suite .mht,
// archives with "cid:" references only) into a folder:
//  - The first "text/html" part, depth first (a "text/plain" alternative never becomes the
//    page), is written as "noname.htm", converted to UTF-8 from the charset its part header
//    declares (the header wins over a <meta> that disagrees; no byte-order mark). A page whose
//    part declares no charset, or one this system cannot convert, is written as it stands and
//    the service's text decoder decides.
//  - Every other leaf part becomes a file in the same folder, named from the last segment of
//    its Content-Location, else its "filename"/"name" parameter, else its Content-ID, else
//    "part"; an extension from its media type is added when the name has none.
//  - Names are plain leaf names: no '/' or '\', not "." or "..", no control characters, at
//    most 200 bytes of valid UTF-8; "noname.htm" is kept for the page; a name already used
//    (without regard to case) gets "_1", "_2"... before its extension. Each file is created
//    new inside the folder (never through a link, never over an existing file), so nothing is
//    written outside the folder and nothing already there is overwritten.
//  - In the page, every "cid:" reference and every reference equal to a part's
//    Content-Location (absolute, or relative to the page's own location) is rewritten to that
//    part's file name, in place; all other bytes of the page stay as they were. Looked at: URL
//    attributes, inline style images, and url() and @import in style blocks; not comments, so
//    the VML inside an office suite's conditional comments keeps its references.
//  - The same rewriting is done inside every other "text/html" part (a frame; relative
//    references resolved against that part's own Content-Location) and, for url() and
//    @import, inside every "text/css" part (against the sheet's own location), so a decoded
//    sheet's pictures and imported sheets are the decoded files. Up to 64 such parts per
//    archive; further ones are written as they stand. Their bytes are not converted.
//  - Locations match however their percent escapes are spelt ("%7e" and "~" alike; "%2f" and
//    "%2F" alike), and a "cid:" reference matches a Content-ID written plainly or
//    percent-encoded. A part located by a "cid:" URL is named from its Content-ID.
//  - Multipart nesting deeper than 64 levels is not descended into. Parts that are whole are
//    kept when the closing boundary is missing; bad base64 or quoted-printable decodes what is
//    valid. An archive without a "text/html" part writes nothing.
//  - The page keeps what its references do not touch, but a page part sent as text (7bit,
//    8bit, binary) that is valid UTF-8 is taken as UTF-8 whatever its charset says: archives
//    reach the service as UTF-8 text, so such parts were converted on the way.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MimeArchiveCodec MimeArchiveCodec;  // one instance; opaque

// One resource Encode writes beside the page. Every text member is zero-terminated; null reads
// as "". The caller owns every member for the duration of the call.
typedef struct MimeArchiveResource {
  const char* content_id;  // without "cid:" and without '<' '>'
  const char* path;        // the file that holds the bytes
  const char* name;        // the stored file name (the part's Content-Location)
  const char* media_type;  // "image/png"; "application/octet-stream" when it has no '/'
  // The content when the caller has read it already (length bytes): path is then not opened,
  // and a length of 0 leaves the resource out as an empty file would. Null: read from path.
  const unsigned char* bytes;
  size_t length;
} MimeArchiveResource;

// Receives one file Decode wrote: its name in the folder (zero-terminated) and its bytes. Both
// live only during the call; context is the one given with the sink.
typedef void (*MimeDecodedFileSink)(void* context, const char* name, const unsigned char* bytes,
                                    size_t length);

// Receives where the archive handed to Decode holds the base64 text of a file Decode wrote:
// length bytes from offset, which decode to the size bytes of the file called name
// (zero-terminated, valid during the call). Handed over only for text spelt exactly as this
// system's own encoder spells it, so that encoding the file again gives these very bytes: the
// RFC 4648 alphabet, lines of 76 characters each followed by CR LF (the last, shorter line
// too), '=' padding, the unused bits of the last group zero. context is the one given with the
// sink.
typedef void (*MimeEncodedFileSink)(void* context, const char* name, size_t offset, size_t length,
                                    uint64_t size);

enum {
  kMimeEncode8Bit = 1,
  kMimeEncodeQuotedPrintable = 2,
  kMimeEncodeBase64 = 3,
};

typedef struct MimeArchiveCodecInterface {
  // A new instance, or null when none could be made.
  MimeArchiveCodec* (*create)(void);
  int32_t (*put_EncodeRange)(MimeArchiveCodec* codec, int32_t range);
  int32_t (*put_EncodeType)(MimeArchiveCodec* codec, int32_t type);
  // Unpacks archive (length bytes, UTF-8; need not be zero-terminated) into the folder open as
  // descriptor folder_fd (a POSIX descriptor of a folder, opened for reading). The caller keeps
  // the descriptor and closes it; the component works only relative to it, so a folder renamed
  // or replaced by a link meanwhile changes nothing. Non-negative when the page was written.
  int32_t (*Decode)(MimeArchiveCodec* codec, const char* archive, size_t length, int folder_fd);
  int32_t (*put_Charset)(MimeArchiveCodec* codec, const char* charset);
  // Writes the archive of page (page_length bytes) and resource_count resources, in their
  // order (resources may be null when the count is 0). On success *archive receives the text
  // (zero-terminated, owned by the caller, freed with free_text) and *archive_length its
  // length; on failure both are left null and 0.
  int32_t (*Encode)(MimeArchiveCodec* codec, const unsigned char* page, size_t page_length,
                    const MimeArchiveResource* resources, size_t resource_count, char** archive,
                    size_t* archive_length);
  int32_t (*put_IntegerOption)(MimeArchiveCodec* codec, int32_t value);
  // A VARIANT_BOOL: -1 true, 0 false.
  int32_t (*put_BooleanOption)(MimeArchiveCodec* codec, int16_t value);
  void (*release)(MimeArchiveCodec* codec);
  // Frees a text returned by Encode; null is allowed.
  void (*free_text)(char* text);
  // Optional: null in a component that does not offer it. Makes the instance's later Decode
  // calls hand sink every file they write whole from memory, once it is written and closed
  // (the page, rewritten sheets and frames, parts that decode to 48 KiB or less), on the
  // thread that called Decode; files written piece by piece are not handed over, nor files
  // whose writing failed. A null sink ends this.
  int32_t (*put_DecodedFileSink)(MimeArchiveCodec* codec, MimeDecodedFileSink sink, void* context);
  // Optional: null in a component that does not offer it. Makes the instance's later Decode
  // calls hand sink where the archive holds each written file's base64 text, when that text
  // is spelt as MimeEncodedFileSink says, once the file is written and closed, on the thread
  // that called Decode. Files whose text lies elsewhere (an archive read in batches) or is
  // spelt otherwise are not handed over. A null sink ends this.
  int32_t (*put_EncodedFileSink)(MimeArchiveCodec* codec, MimeEncodedFileSink sink, void* context);
} MimeArchiveCodecInterface;

// Export "GetMimeArchiveCodec": the component's table, valid while the component is loaded.
typedef const MimeArchiveCodecInterface* (*GetMimeArchiveCodecFunction)(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // ORVO_COMPONENTS_MIME_CODEC_MIME_CODEC_INTERFACE_H_
