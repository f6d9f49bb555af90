#ifndef ORVO_MIME_SHEET_REFERENCES_H_
#define ORVO_MIME_SHEET_REFERENCES_H_

#include <cstddef>
#include <cstdint>

#include "mime/encode_options.h"
#include "mime/resource_embedding.h"

// Embeds what the style sheets of an encode name, so that a page opened from its archive keeps
// its sheets' background pictures and imported rules.
//
// The basic encode archives a linked or imported sheet as it stands, and its references then
// point outside the archive. This pass goes further: for every sheet among the registry's
// entries (a ".css" name), in registration order, it resolves each url() and @import of the
// sheet against the sheet's own location (a local path or a web URL), admits and embeds it as
// the page's own references are (file scope and include prefix; @import rules under
// kFilterStyleSheets, url() pictures under kFilterImages; the embedder's kinds and caps), and
// stores a copy of the sheet whose references name the embedded parts ("cid:"). Sheets
// embedded this way are themselves processed in turn, to any depth; each entry is processed
// once, so sheets that import each other end. The page's own entries stay first and in their
// order: everything found here is registered after them.
//
// Sheets larger than kMaxRewrittenSheetBytes, sheets nothing of which could be embedded, and
// every sheet after the first kMaxStyleSheets are archived as they stand. Runs on the request's
// thread; downloads block as EmbedResource says.
void EmbedStyleSheetReferences(EmbedTarget& target, const EncodeOptions& options);

inline constexpr uint64_t kMaxRewrittenSheetBytes = 8u << 20;
inline constexpr size_t kMaxStyleSheets = 256;

#endif  // ORVO_MIME_SHEET_REFERENCES_H_
