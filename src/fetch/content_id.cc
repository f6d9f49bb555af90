#include "fetch/content_id.h"

#include "workspace/random_chars.h"

std::string MakeContentId() { return RandomChars(12) + "@" + kContentIdDomain; }
