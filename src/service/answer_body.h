#ifndef ORVO_SERVICE_ANSWER_BODY_H_
#define ORVO_SERVICE_ANSWER_BODY_H_

#include <memory>
#include <string>

class StreamedAnswer;

namespace httplib {
struct Response;
}

// Makes answer the body of res with the given Content-Type. A non-empty answer is handed to the
// connection as it stands: it is not copied (a files answer can be tens of megabytes), it goes
// out with its Content-Length, and it is never compressed, whatever the client accepts; the
// peer is this machine, where compressing costs far more time than sending (a 28 MB answer
// took 90 s under the library's default Brotli setting). An empty answer is set as it always
// was.
void SetAnswerBody(httplib::Response& res, std::string answer, const char* content_type);

// The same for an answer made as the connection takes it, in blocks of a fixed size: its
// Content-Length is known beforehand, so the bytes on the wire are those of the whole text. When
// a file of the answer is cut short by another process meanwhile, the rest cannot be made: the
// log says so and the connection is closed before the end of the body, so the page sees a
// failed request rather than wrong data.
void SetAnswerBody(httplib::Response& res, std::unique_ptr<StreamedAnswer> answer,
                   const char* content_type);

#endif  // ORVO_SERVICE_ANSWER_BODY_H_
