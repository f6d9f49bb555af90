#ifndef ORVO_HTML_ELEMENT_TAG_H_
#define ORVO_HTML_ELEMENT_TAG_H_

#include <string_view>

// Tag identifiers of the kinds the document walk tells apart. The numbers are the platform
// engine's element tag identifiers, so that tables written against that engine keep their
// values. Every element of another kind is kOther.
enum class TagId : int {
  kOther = 0,
  kA = 2,
  kApplet = 5,
  kBgsound = 11,
  kBody = 15,
  kDiv = 30,
  kEmbed = 34,
  kGeneric = 40,  // a namespaced element written with a prefix, such as "v:imagedata"
  kHead = 47,
  kHtml = 49,
  kImg = 52,
  kInput = 53,
  kLi = 58,
  kLink = 59,
  kMeta = 64,
  kScript = 83,
  kStyle = 89,
  kTable = 92,
  kTd = 95,
  kTh = 98,
};

// The tag id of an element by its lower-case HTML name ("img"); a name holding ':' is
// kGeneric; an unlisted name is kOther.
TagId TagIdFromName(std::string_view lower_name);

#endif  // ORVO_HTML_ELEMENT_TAG_H_
