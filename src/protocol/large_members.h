#ifndef ORVO_PROTOCOL_LARGE_MEMBERS_H_
#define ORVO_PROTOCOL_LARGE_MEMBERS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The envelope's large members, "pdu"."mimevalue" (an archive) and "pdu"."html" (a page), are
// tens of megabytes that the JSON library would decode character by character and then copy
// into its document. They are taken out of the text instead: each is unescaped where it stands
// in the body (no escape is shorter than the character it stands for, so the text only moves
// towards its start), and the text the JSON library reads has an empty string in its place.
//
// What the JSON library accepts stays exactly what it accepted: only a string that its reader
// would decode without error is taken out, with the characters that reader would make (its
// escapes, its surrogate-pair rule, raw control characters and any other bytes passed on as
// they stand), and only where its reader would take it for that member's value: outside
// comments, after the member's name and its colon, directly in the root object's "pdu" object.
// A member whose name is written with escapes is left in place (then read the slow way).
struct LargeMember {
  size_t at = 0;          // where its empty string starts in the envelope text
  std::string_view text;  // in the body
  bool ascii = false;     // every byte of text is below 0x80 (so it is valid UTF-8)

  std::string_view view() const { return text; }
};

// Takes the large members out of body. Returns false when there is none: body is then read as
// it stands and envelope is left empty. A large member the reader refuses (a bad escape, no
// closing quote) is found so only while it is being unescaped; it is then left as text the
// reader refuses at the same place, and the reader stops there as it would have. Else envelope is
// body with each member written as "", and each member's text lies unescaped at the start of its
// place in body (body keeps its size; the rest of the place holds leftovers). members come in the
// order of their place and stay valid while body is neither changed nor freed.
bool TakeLargeMembers(std::string& body, std::string& envelope, std::vector<LargeMember>& members);

#endif  // ORVO_PROTOCOL_LARGE_MEMBERS_H_
