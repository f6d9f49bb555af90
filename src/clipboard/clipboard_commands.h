#ifndef ORVO_CLIPBOARD_CLIPBOARD_COMMANDS_H_
#define ORVO_CLIPBOARD_CLIPBOARD_COMMANDS_H_

#include <json/value.h>

#include <string>

class CommandRequest;
struct PayloadInputs;

// The clipboard commands. Both take one snapshot of the clipboard per request and create
// their work folders under the pdu's "temppath" (path macros allowed; absent or null: the
// system temp folder). Captured image files are read into the answer before their folders are
// removed. "error" stays -1. A "pdu" that is not an object, or a "temppath" that is not a
// string, raises the JSON library's error before any clipboard work.

// "cfp-0010": one kind of content, in the order HTML (with the files of its local images),
// captured images, plain text ("type" 2).
std::string RunClipboardCommand(CommandRequest& request);

// {"clipboarddata": payload, "type", "isoffice", and "files" (image records of paths A) when
// at least one record was made}.
Json::Value BuildClipboardPdu(const PayloadInputs& inputs);

// "cfp-0011": the HTML (else the plain text, "type" 2) and, in addition, the captured images.
std::string RunClipboardWithImagesCommand(CommandRequest& request);

// {"clipboardformat": null or ["html"] / ["html", "image"] / ["image"], "clipboardhtml":
// payload, "type", "isoffice", "files" (records of paths A, when any), "clipboardimage" (the
// last readable image of paths B, when any)}.
Json::Value BuildClipboardWithImagesPdu(const PayloadInputs& inputs);

#endif  // ORVO_CLIPBOARD_CLIPBOARD_COMMANDS_H_
