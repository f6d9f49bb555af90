#include "service/answer_body.h"

#include <httplib.h>

#include <memory>

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
