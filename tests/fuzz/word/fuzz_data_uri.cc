// Any image source a page can carry: the data: URI parser and the token splitter must never
// crash, and what they return must be a part of what they were given.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "word/html_image_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string uri(reinterpret_cast<const char*>(data), size);
  std::string payload;
  std::string extension = "unset";
  if (ParseDataUri(uri, payload, extension)) {
    if (payload.size() > uri.size() || uri.find(payload) == std::string::npos) std::abort();
  }
  SniffBase64ImageType(payload);

  std::vector<std::string> tokens;
  SplitTokens(uri, " ,;", tokens);
  size_t total = 0;
  for (const std::string& token : tokens) {
    if (token.empty() || token.find_first_of(" ,;") != std::string::npos) std::abort();
    total += token.size();
  }
  if (total > uri.size()) std::abort();
  return 0;
}
