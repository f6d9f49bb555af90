#ifndef ORVO_MIME_DOCUMENT_WALK_H_
#define ORVO_MIME_DOCUMENT_WALK_H_

#include <string>

class HtmlDocument;
class ResourceRegistry;
struct EncodeOptions;

// Gathers the resources a page refers to into registry and rewrites the page's references to
// them ("cid:" references; a script's source to its workspace copy), so that the page, once
// serialised, refers only to what the archive carries.
//
// Which elements are taken follows the options' filter and range; which references are
// followed, their file scope and include prefix. Besides the elements of the page, the walk
// reads:
//  - the @import rules of style blocks (filter bit kFilterStyleSheets);
//  - the VML picture data inside Office conditional comments ("<!--[if gte vml 1]>"), which a
//    parser reads as comment text: their "v:imagedata" elements are parsed out of the comment
//    and rewritten in place, so an office suite opening the archive finds its pictures;
//  - (bit kFilterImages) the candidates of "srcset" on img and source elements, and url()
//    references in style blocks and in inline style properties the element's own rules do not
//    read, so a current page keeps all of its pictures.
//
// Then the style sheets it embedded have their own references embedded too (see
// sheet_references.h), after the page's own resources.
//
// A page without a body (a frameset page) is left as it is. References that cannot be resolved,
// admitted or embedded stay as the page wrote them. Returns whether a loaded document was given.
// Runs on the request's thread; downloads block as EmbedResource says.
bool CollectResources(HtmlDocument& document, ResourceRegistry& registry, const std::string& base,
                      const EncodeOptions& options);

// The href of the last base element; empty when there is none.
std::string GetBaseHref(const HtmlDocument& document);

#endif  // ORVO_MIME_DOCUMENT_WALK_H_
