// Any POST body: parsing and answering must never crash, and the answer's writer must produce
// JSON that reads back to the same value.
#include <json/reader.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "protocol/command_request.h"
#include "protocol/command_table.h"
#include "protocol/json_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  CommandRequest request;
  request.Parse(body);
  try {
    // Only the version command is cheap and side-effect free enough to run here.
    if (request.CommandCode() == 15) doCMD(request, 15);
    request.BuildResponse({}, {}, request.Pdu(), body);
  } catch (const std::exception&) {
    // JSON type errors are the endpoint's 500 answer.
  }

  std::string written = WriteCompactJson(request.root);
  Json::Value again;
  Json::Reader reader(Json::Features::all());
  bool read_back = false;
  try {
    read_back = reader.parse(written, again);
  } catch (const std::exception&) {
    return 0;  // As deep as the reader's limit: the first parse stopped there too.
  }
  if (written.back() != '\n' || !read_back || again != request.root) {
    // Reals may not survive a text round trip exactly; everything else must.
    if (!request.root.isNull() && written.find_first_of(".eE") == std::string::npos) std::abort();
  }
  return 0;
}
