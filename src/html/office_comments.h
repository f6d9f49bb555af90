#ifndef ORVO_HTML_OFFICE_COMMENTS_H_
#define ORVO_HTML_OFFICE_COMMENTS_H_

#include <cstddef>
#include <functional>
#include <string_view>

class HtmlDocument;
struct HtmlComment;

// Office writes each picture twice: as VML for its own renderer, inside a conditional comment
// ("<!--[if gte vml 1]><v:shape ...><v:imagedata src=...>...<![endif]-->") that a parser reads
// as comment text, and as an img for everyone else. Code that follows or rewrites a page's
// references must reach into those comments too, or an office suite opening the page finds its
// pictures missing.

// The markup inside a VML conditional comment: comment is the text between "<!--" and "-->";
// when it reads "[if ...vml...]>MARKUP<![endif]", [*begin, *end) is MARKUP (to the end of the
// comment when "<![endif]" is missing). False for every other comment.
bool VmlCommentMarkup(std::string_view comment, size_t* begin, size_t* end);

// Reads the markup of comment, one of page.comments(), as a page of its own and hands it to
// edit; what edit changes there through the engine's edits is spliced back into the comment's
// bytes of page (as a pending edit of page), so the rest of the comment stays byte for byte.
// False, calling nothing, when comment is not a VML conditional comment or its markup cannot be
// parsed. Runs edit on the caller's thread before returning.
bool EditVmlComment(HtmlDocument& page, const HtmlComment& comment,
                    const std::function<void(HtmlDocument& markup)>& edit);

#endif  // ORVO_HTML_OFFICE_COMMENTS_H_
