#include "mime/encode_options.h"

#include <json/value.h>

#include "protocol/command_request.h"
#include "text/text_conversion.h"

EncodeRange EncodeRangeOf(int32_t value) {
  return value == 0 ? EncodeRange::kWholeDocument : EncodeRange::kBodyOnly;
}

FileScope FileScopeOf(int32_t value) {
  if (value == static_cast<int32_t>(FileScope::kLocalAndWeb)) return FileScope::kLocalAndWeb;
  if (value == static_cast<int32_t>(FileScope::kUrlsOnly)) return FileScope::kUrlsOnly;
  return FileScope::kAll;
}

void ReadEncodeOptions(const Json::Value& pdu, EncodeOptions& options) {
  const Json::Value& given = pdu["mimeoptions"];
  if (given.isNull()) return;
  Json::Value copy = given;
  // Non-const access: a "mimeoptions" that is no object raises the library's error here.
  const EncodeOptions defaults;
  if (copy["mimeencodefilescope"].isNull()) copy["mimeencodefilescope"] = 0;
  if (copy["mimeencodefilter"].isNull()) copy["mimeencodefilter"] = defaults.filter;
  if (copy["mimeencodeincludeurl"].isNull()) copy["mimeencodeincludeurl"] = "";
  if (copy["mimeencoderange"].isNull()) copy["mimeencoderange"] = 0;
  if (copy["mimeencodetype"].isNull()) copy["mimeencodetype"] = defaults.encode_type;
  options.include_prefix = Utf8ToWide(copy["mimeencodeincludeurl"].asCString());
  options.file_scope = FileScopeOf(copy["mimeencodefilescope"].asInt());
  options.filter = copy["mimeencodefilter"].asInt();
  options.range = EncodeRangeOf(copy["mimeencoderange"].asInt());
  options.encode_type = copy["mimeencodetype"].asInt();
}

const Json::Value& PduToRead(const CommandRequest& request, Json::Value& copy) {
  const Json::Value* pdu = request.root.isObject() ? request.root.find("pdu", "pdu" + 3) : nullptr;
  if (pdu != nullptr && pdu->isObject()) return *pdu;
  copy = request.Pdu();
  copy["temppath"];  // the lookup a worker's copy makes first
  return copy;
}
