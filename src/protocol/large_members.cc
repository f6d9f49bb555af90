#include "protocol/large_members.h"

#include <cstring>

namespace {

bool IsLargeMemberName(std::string_view name) { return name == "mimevalue" || name == "html"; }

// Where the string literal whose characters start at content ends, as the JSON reader finds
// it: at the first quotation mark after an even run of backslashes. Null when the text ends
// first.
const char* ClosingQuote(const char* content, const char* end) {
  for (const char* from = content; from < end;) {
    auto quote = static_cast<const char*>(std::memchr(from, '"', end - from));
    if (quote == nullptr) return nullptr;
    const char* run = quote;
    while (run > content && run[-1] == '\\') --run;
    if ((quote - run) % 2 == 0) return quote;
    from = quote + 1;
  }
  return nullptr;
}

// Four hexadecimal digits of a \u escape, either case, as the reader takes them.
bool ReadHex4(const char*& p, const char* end, unsigned& value) {
  if (end - p < 4) return false;
  value = 0;
  for (int i = 0; i < 4; ++i) {
    char c = *p++;
    value *= 16;
    if (c >= '0' && c <= '9') {
      value += c - '0';
    } else if (c >= 'a' && c <= 'f') {
      value += c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      value += c - 'A' + 10;
    } else {
      return false;
    }
  }
  return true;
}

// A \u escape after its "\u". The reader requires a second \u escape after a high surrogate,
// but takes any four digits there, and passes a lone low surrogate through.
bool ReadCodePoint(const char*& p, const char* end, unsigned& code_point) {
  if (!ReadHex4(p, end, code_point)) return false;
  if (code_point < 0xD800 || code_point > 0xDBFF) return true;
  if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return false;
  p += 2;
  unsigned low = 0;
  if (!ReadHex4(p, end, low)) return false;
  code_point = 0x10000 + ((code_point & 0x3FF) << 10) + (low & 0x3FF);
  return true;
}

char* WriteUtf8(unsigned code_point, char* out) {
  if (code_point <= 0x7F) {
    *out++ = static_cast<char>(code_point);
  } else if (code_point <= 0x7FF) {
    *out++ = static_cast<char>(0xC0 | (code_point >> 6));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point <= 0xFFFF) {
    *out++ = static_cast<char>(0xE0 | (code_point >> 12));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code_point >> 18));
    *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

// The character of a one-letter escape; -1 for a letter the reader refuses.
int OneLetterEscape(char letter) {
  switch (letter) {
    case '"':
    case '/':
    case '\\':
      return letter;
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return -1;
  }
}

// Unescapes the characters [p, end) of a literal into out, which may be p itself: out never
// runs ahead of p, since no escape is shorter than what it stands for. Plain runs are moved
// whole. Returns the end of what was written, or null for an escape the reader refuses. With
// kWrite false it only checks, so that a refused literal is never half rewritten.
template <bool kWrite>
char* Unescape(const char* p, const char* end, char* out) {
  while (p < end) {
    auto slash = static_cast<const char*>(std::memchr(p, '\\', end - p));
    if (slash == nullptr) slash = end;
    if (kWrite) std::memmove(out, p, slash - p);
    out += slash - p;
    if (slash == end) break;
    p = slash + 1;
    if (p == end) return nullptr;
    char letter = *p++;
    if (letter == 'u') {
      unsigned code_point = 0;
      if (!ReadCodePoint(p, end, code_point)) return nullptr;
      char utf8[4];
      char* utf8_end = WriteUtf8(code_point, utf8);
      if (kWrite) std::memcpy(out, utf8, utf8_end - utf8);
      out += utf8_end - utf8;
      continue;
    }
    int character = OneLetterEscape(letter);
    if (character < 0) return nullptr;
    if (kWrite) *out = static_cast<char>(character);
    ++out;
  }
  return out;
}

// After "/" outside strings: skips a comment as the reader does. False when the reader would
// stop there (no comment, or a block comment without its end).
bool SkipComment(const char*& p, const char* end) {
  if (p == end) return false;
  if (*p == '/') {
    while (p < end && *p != '\n' && *p != '\r') ++p;
    return true;
  }
  if (*p != '*') return false;
  std::string_view rest(p + 1, end - p - 1);
  size_t close = rest.find("*/");
  if (close == std::string_view::npos) return false;
  p += 1 + close + 2;
  return true;
}

// Reads the envelope's structure as the JSON reader would up to the end of its root value or
// the first place the reader would stop, taking each large member out on the way.
class Scanner {
 public:
  Scanner(std::string& body, std::string& envelope, std::vector<LargeMember>& members)
      : body_(body.data()),
        p_(body_),
        end_(body_ + body.size()),
        copied_(p_),
        envelope_(envelope),
        members_(members) {}

  void Run() {
    while (p_ < end_ && Step(*p_++)) {
    }
    if (!members_.empty()) envelope_.append(copied_, end_);
  }

 private:
  // False where the scan stops: the root value ended, or the reader would stop there.
  bool Step(char c) {
    switch (c) {
      case ' ':
      case '\t':
      case '\r':
      case '\n':
        return true;
      case '/':
        return SkipComment(p_, end_);
      case '"':
        return String();
      case ':':
        member_ = last_string_;
        value_next_ = true;
        return true;
      case '{':
      case '[':
        open_.push_back(c == '{' && value_next_ && open_.size() == 1 && open_[0] == '{' &&
                                member_ == "pdu"
                            ? 'p'
                            : c);
        value_next_ = false;
        return true;
      case '}':
      case ']':
        if (open_.empty()) return false;
        open_.pop_back();
        value_next_ = false;
        return !open_.empty();
      default:
        value_next_ = false;
        return true;
    }
  }

  bool String() {
    const char* content = p_;
    const char* close = ClosingQuote(content, end_);
    if (close == nullptr) return false;
    p_ = close + 1;
    bool take = value_next_ && open_.size() == 2 && open_[0] == '{' && open_[1] == 'p' &&
                IsLargeMemberName(member_);
    value_next_ = false;
    last_string_ = std::string_view(content, close - content);
    return !take || Take(content, close);
  }

  bool Take(const char* content, const char* close) {
    char* text = body_ + (content - body_);
    if (Unescape<false>(content, close, text) == nullptr) {
      return false;  // the reader refuses it: it stops here too
    }
    char* written = Unescape<true>(content, close, text);
    envelope_.append(copied_, content - 1);
    LargeMember member;
    member.at = envelope_.size();
    member.text = std::string_view(text, written - text);
    envelope_.append("\"\"");
    copied_ = close + 1;
    members_.push_back(member);
    // The member's characters are now its text: no name can be read from them.
    last_string_ = {};
    return true;
  }

  char* body_;
  const char* p_;
  const char* end_;
  const char* copied_;  // the body before this is in the envelope
  std::string& envelope_;
  std::vector<LargeMember>& members_;
  std::string open_;  // one character per open container; 'p' for the root's "pdu" object
  std::string_view last_string_;
  std::string_view member_;  // the name before the last colon
  bool value_next_ = false;  // a colon was the last token
};

}  // namespace

bool TakeLargeMembers(std::string& body, std::string& envelope, std::vector<LargeMember>& members) {
  envelope.clear();
  members.clear();
  Scanner(body, envelope, members).Run();
  return !members.empty();
}
