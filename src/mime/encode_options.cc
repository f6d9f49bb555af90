#include "mime/encode_options.h"

#include <json/value.h>

#include "protocol/command_request.h"
#include "text/text_conversion.h"

void ReadEncodeOptions(const Json::Value& pdu, EncodeOptions& options) {
  const Json::Value& given = pdu["mimeoptions"];
  if (given.isNull()) return;
  Json::Value copy = given;
  // Non-const access: a "mimeoptions" that is no object raises the library's error here.
  const EncodeOptions defaults;
  if (copy["mimeencodefilescope"].isNull()) copy["mimeencodefilescope"] = defaults.file_scope;
  if (copy["mimeencodefilter"].isNull()) copy["mimeencodefilter"] = defaults.filter;
  if (copy["mimeencodeincludeurl"].isNull()) copy["mimeencodeincludeurl"] = "";
  if (copy["mimeencoderange"].isNull()) copy["mimeencoderange"] = defaults.range;
  if (copy["mimeencodetype"].isNull()) copy["mimeencodetype"] = defaults.encode_type;
  options.include_prefix = Utf8ToWide(copy["mimeencodeincludeurl"].asCString());
  options.file_scope = copy["mimeencodefilescope"].asInt();
  options.filter = copy["mimeencodefilter"].asInt();
  options.range = copy["mimeencoderange"].asInt();
  options.encode_type = copy["mimeencodetype"].asInt();
}

const Json::Value& PduToRead(const CommandRequest& request, Json::Value& copy) {
  const Json::Value* pdu = request.root.isObject() ? request.root.find("pdu", "pdu" + 3) : nullptr;
  if (pdu != nullptr && pdu->isObject()) return *pdu;
  copy = request.Pdu();
  copy["temppath"];  // the lookup a worker's copy makes first
  return copy;
}
