#include "service/answer_body.h"

#include <httplib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/log.h"
#include "protocol/answer_files.h"

namespace {

// Large enough that a TLS write costs little per byte, small enough to stay in the cache.
constexpr size_t kStreamBlock = 128 * 1024;

struct Streaming {
  std::unique_ptr<StreamedAnswer> answer;
  std::vector<char> block;
};

}  // namespace

void SetAnswerBody(httplib::Response& res, std::string answer, const char* content_type) {
  if (answer.empty()) {
    res.set_content("", content_type);
    return;
  }
  // The library compresses a body it holds, but sends a provider of known length as it is.
  auto text = std::make_shared<const std::string>(std::move(answer));
  res.set_content_provider(text->size(), content_type,
                           [text](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(text->data() + offset, length);
                           });
}

void SetAnswerBody(httplib::Response& res, std::unique_ptr<StreamedAnswer> answer,
                   const char* content_type) {
  auto streaming = std::make_shared<Streaming>();
  size_t size = answer->size();
  streaming->answer = std::move(answer);
  streaming->block.resize(kStreamBlock);
  res.set_content_provider(
      size, content_type, [streaming](size_t offset, size_t length, httplib::DataSink& sink) {
        std::vector<char>& block = streaming->block;
        size_t count = 0;
        if (!streaming->answer->Read(offset, block.data(), std::min(length, block.size()),
                                     &count) ||
            count == 0) {
          Log("\n answer cut short: a file changed while it was sent [%zu]", offset);
          return false;
        }
        return sink.write(block.data(), count);
      });
}
