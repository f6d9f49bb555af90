#include "protocol/large_members.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Moves the characters from p on to out (out <= p) up to the first backslash or quotation mark,
// which it returns (end when there is none); out advances as far. Sixteen characters are looked
// at and moved at a time: a literal of tens of megabytes has an escape every few dozen.
// Bytes of 0x80 and above among those looked at go into *high (a chunk may be looked at past the
// run, so *high may also count a few bytes after it).
const char* MovePlainRun(const char* p, const char* end, char*& out, unsigned* high) {
#ifdef __SSE2__
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i quote = _mm_set1_epi8('"');
  while (end - p >= 16) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(chunk, backslash), _mm_cmpeq_epi8(chunk, quote))));
    *high |= static_cast<unsigned>(_mm_movemask_epi8(chunk));
    size_t run = stops == 0 ? 16 : static_cast<size_t>(__builtin_ctz(stops));
    if (out != p) {
      // A whole chunk may be stored only where it cannot reach characters not yet read; what
      // it writes past the run is overwritten by the text that follows.
      if (p - out >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chunk);
      } else {
        std::memmove(out, p, run);
      }
    }
    out += run;
    p += run;
    if (stops != 0) return p;
  }
#endif
  while (p < end && *p != '\\' && *p != '"') {
    *high |= static_cast<unsigned char>(*p) & 0x80;
    *out++ = *p++;
  }
  return p;
}

// Unescapes in place the literal whose characters start at text, in one pass that also finds
// its end: returns its closing quote (the first quotation mark no escape takes, as the reader
// finds it) and sets *written to the end of the unescaped text, which never runs ahead of what
// was read, since no escape is shorter than what it stands for. Null when the reader refuses
// the literal: *refused is then the backslash of the escape it refuses, or null when the text
// ends first; the characters before that are rewritten in part. *ascii says whether the text
// is all ASCII; false also when that is not known.
const char* UnescapeLiteral(char* text, const char* end, char** written, const char** refused,
                            bool* ascii) {
  const char* p = text;
  char* out = text;
  *refused = nullptr;
  unsigned high = 0;
  for (;;) {
    p = MovePlainRun(p, end, out, &high);
    if (p == end) return nullptr;
    if (*p == '"') {
      *written = out;
      *ascii = high == 0;
      return p;
    }
    const char* escape = p++;
    if (p == end) return nullptr;
    char letter = *p++;
    if (letter == 'u') {
      // A quotation mark is no hexadecimal digit: a \u escape never reads past the literal.
      unsigned code_point = 0;
      if (!ReadCodePoint(p, end, code_point)) {
        *refused = escape;
        return nullptr;
      }
      high |= code_point >= 0x80;
      out = WriteUtf8(code_point, out);
      continue;
    }
    int character = OneLetterEscape(letter);
    if (character < 0) {
      *refused = escape;
      return nullptr;
    }
    *out++ = static_cast<char>(character);
  }
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
    bool take = value_next_ && open_.size() == 2 && open_[0] == '{' && open_[1] == 'p' &&
                IsLargeMemberName(member_);
    value_next_ = false;
    if (take) return Take(content);
    const char* close = ClosingQuote(content, end_);
    if (close == nullptr) return false;
    p_ = close + 1;
    last_string_ = std::string_view(content, close - content);
    return true;
  }

  bool Take(const char* content) {
    char* text = body_ + (content - body_);
    char* written = nullptr;
    const char* refused = nullptr;
    bool ascii = false;
    const char* close = UnescapeLiteral(text, end_, &written, &refused, &ascii);
    if (close == nullptr) {
      KeepRefused(text, refused);
      return false;  // the reader refuses it: it stops here too
    }
    envelope_.append(copied_, content - 1);
    LargeMember member;
    member.at = envelope_.size();
    member.text = std::string_view(text, written - text);
    member.ascii = ascii;
    envelope_.append("\"\"");
    copied_ = close + 1;
    p_ = close + 1;
    members_.push_back(member);
    // The member's characters are now its text: no name can be read from them.
    last_string_ = {};
    return true;
  }

  // A refused literal was rewritten in part before its refusal was found. The reader, which
  // reads the body after this, must refuse it at the same token: it becomes an escape the
  // reader refuses and blanks up to its closing quote, or blanks to the end of the text when
  // it has none (the escapes from the refused one on are untouched, so that quote is found as
  // the reader finds it).
  void KeepRefused(char* text, const char* refused) {
    const char* close = refused == nullptr ? nullptr : ClosingQuote(refused, end_);
    char* stop = body_ + ((close == nullptr ? end_ : close) - body_);
    if (close != nullptr) {
      *text++ = '\\';
      *text++ = 'q';
    }
    std::memset(text, ' ', stop - text);
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
