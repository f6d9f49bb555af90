#include "imaging/deflate_end.h"

#include <cstddef>
#include <cstring>

namespace {

// The stream's bits from the least significant end of each byte, as deflate packs them.
class BitReader {
 public:
  explicit BitReader(std::string_view bytes)
      : data_(reinterpret_cast<const uint8_t*>(bytes.data())), size_(bytes.size()) {}

  // Makes at least 56 bits available; past the stream's end they read as 0, and Position()
  // passes its end.
  void Refill() {
    if (next_ <= size_ && size_ - next_ >= 8) {
      uint64_t word;
      std::memcpy(&word, data_ + next_, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
      word = __builtin_bswap64(word);
#endif
      // Whole bytes only: the bits above count_ hold the next byte's, which the next load
      // writes again with the same values.
      bits_ |= word << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    for (; count_ <= 56; count_ += 8, ++next_) {
      bits_ |= uint64_t{next_ < size_ ? data_[next_] : uint8_t{0}} << count_;
    }
  }
  uint32_t Peek(unsigned n) const {
    return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
  }
  void Drop(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  uint32_t Take(unsigned n) {
    const uint32_t value = Peek(n);
    Drop(n);
    return value;
  }
  uint64_t Position() const { return uint64_t{next_} * 8 - count_; }
  void Seek(uint64_t bit) {
    next_ = bit / 8;
    bits_ = 0;
    count_ = 0;
    Refill();
    Drop(bit % 8);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t next_ = 0;  // the next byte to load
  uint64_t bits_ = 0;
  unsigned count_ = 0;  // bits of bits_ not yet taken
};

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kTableBits = 11;  // longer codes are rare and read bit by bit

enum Kind : uint8_t { kLiteral, kMatch, kEndOfBlock, kLongCode, kInvalid };

// What a symbol of an alphabet is, and how many extra bits follow its code.
struct Alphabet {
  uint8_t kind[288];
  uint8_t extra[288];
};

// The literal/length symbols (0-287) and the distances (0-31); distances count as kLiteral.
struct Alphabets {
  Alphabet litlen, distance, code_lengths;
  Alphabets() : litlen(), distance(), code_lengths() {
    static const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    for (unsigned i = 0; i < 288; ++i) {
      litlen.kind[i] = i < 256 ? kLiteral : i == 256 ? kEndOfBlock : i < 286 ? kMatch : kInvalid;
      litlen.extra[i] = i > 256 && i < 286 ? kLengthExtra[i - 257] : 0;
      distance.kind[i] = i < 30 ? kLiteral : kInvalid;
      distance.extra[i] = i < 4 || i >= 30 ? 0 : static_cast<uint8_t>(i / 2 - 1);
    }
  }
};

// One Huffman code of a block. Skip uses a table of every kTableBits-bit prefix, whose entry
// tells the symbol's kind and the bits it takes with its extra bits.
class Code {
 public:
  // lengths[i] is the code length of symbol i of `alphabet`. False for an over-subscribed code.
  bool Build(const uint8_t* lengths, unsigned count, const Alphabet& alphabet) {
    alphabet_ = &alphabet;
    uint16_t counts[kMaxCodeBits + 1] = {};
    for (unsigned i = 0; i < count; ++i) ++counts[lengths[i]];
    counts[0] = 0;
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
      left = (left << 1) - counts[len];
      if (left < 0) return false;
    }
    std::memcpy(counts_, counts, sizeof counts_);
    uint16_t offsets[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
      offsets[len + 1] = static_cast<uint16_t>(offsets[len] + counts[len]);
    }
    for (unsigned i = 0; i < count; ++i) {
      if (lengths[i] != 0) symbols_[offsets[lengths[i]]++] = static_cast<uint16_t>(i);
    }
    FillTable();
    return true;
  }

  // Skips one symbol and its extra bits (at most 28 bits, which must be available).
  Kind Skip(BitReader* in) const {
    const uint16_t entry = table_[in->Peek(kTableBits)];
    const Kind kind = static_cast<Kind>(entry >> 8);
    if (kind == kLongCode) {
      const int symbol = Decode(in);
      if (symbol < 0) return kInvalid;
      in->Drop(alphabet_->extra[symbol]);
      return static_cast<Kind>(alphabet_->kind[symbol]);
    }
    in->Drop(entry & 0xFF);
    return kind;
  }

  // The next symbol, its code read bit by bit (the first bit is the code's highest); -1 if the
  // bits are no code. At most 15 bits must be available.
  int Decode(BitReader* in) const {
    uint32_t code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len, code <<= 1) {
      code |= in->Take(1);
      if (code - first < counts_[len]) return symbols_[index + code - first];
      index += counts_[len];
      first = (first + counts_[len]) << 1;
    }
    return -1;
  }

 private:
  static uint16_t Entry(unsigned kind, unsigned bits) {
    return static_cast<uint16_t>(kind << 8 | bits);
  }

  // Canonical codes in order of length; a code's bits come reversed in the stream.
  void FillTable() {
    for (uint16_t& entry : table_) entry = Entry(kInvalid, 0);  // no code starts so
    uint32_t code = 0;
    unsigned at = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len, code <<= 1) {
      for (unsigned k = 0; k < counts_[len]; ++k, ++code, ++at) {
        uint32_t reversed = 0;
        for (unsigned bit = 0; bit < len; ++bit) reversed |= ((code >> bit) & 1) << (len - 1 - bit);
        if (len > kTableBits) {
          table_[reversed & ((1u << kTableBits) - 1)] = Entry(kLongCode, 0);
          continue;
        }
        const uint16_t symbol = symbols_[at];
        const uint16_t entry = Entry(alphabet_->kind[symbol], len + alphabet_->extra[symbol]);
        for (uint32_t i = reversed; i < (1u << kTableBits); i += 1u << len) table_[i] = entry;
      }
    }
  }

  const Alphabet* alphabet_ = nullptr;
  uint16_t counts_[kMaxCodeBits + 1] = {};
  uint16_t symbols_[288] = {};
  uint16_t table_[1u << kTableBits] = {};
};

// The codes of a block with dynamic codes, from its header. False for an invalid header.
bool ReadCodes(const Alphabets& alphabets, BitReader* in, Code* litlen, Code* distance) {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  in->Refill();
  const unsigned litlen_count = in->Take(5) + 257, distance_count = in->Take(5) + 1;
  const unsigned order_count = in->Take(4) + 4;
  uint8_t lengths[288 + 32] = {};
  for (unsigned i = 0; i < order_count; ++i) {
    in->Refill();
    lengths[kOrder[i]] = static_cast<uint8_t>(in->Take(3));
  }
  Code code_lengths;
  if (litlen_count > 286 || distance_count > 30 ||
      !code_lengths.Build(lengths, 19, alphabets.code_lengths)) {
    return false;
  }
  const unsigned total = litlen_count + distance_count;
  for (unsigned i = 0; i < total;) {
    in->Refill();
    const int symbol = code_lengths.Decode(in);
    if (symbol < 0 || (symbol == 16 && i == 0)) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    // 16 repeats the last length 3-6 times, 17 and 18 give 3-10 and 11-138 zeros.
    const uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
    const unsigned repeat = symbol == 16   ? 3 + in->Take(2)
                            : symbol == 17 ? 3 + in->Take(3)
                                           : 11 + in->Take(7);
    if (repeat > total - i) return false;
    std::memset(lengths + i, value, repeat);
    i += repeat;
  }
  return lengths[256] != 0 && litlen->Build(lengths, litlen_count, alphabets.litlen) &&
         distance->Build(lengths + litlen_count, distance_count, alphabets.distance);
}

// Skips a block's symbols through its end-of-block code. False for an invalid symbol or a
// block that runs past `end` bits.
bool SkipSymbols(const Code& litlen, const Code& distance, uint64_t end, BitReader* in) {
  for (;;) {
    in->Refill();
    if (in->Position() > end) return false;
    // Up to three symbols a refill: two literals of 15 bits and a length of 20.
    Kind kind = litlen.Skip(in);
    if (kind == kLiteral) kind = litlen.Skip(in);
    if (kind == kLiteral) kind = litlen.Skip(in);
    if (kind == kLiteral) continue;
    if (kind == kEndOfBlock) return in->Position() <= end;
    in->Refill();
    if (kind != kMatch || distance.Skip(in) != kLiteral) return false;
  }
}

}  // namespace

bool FindDeflateEnd(std::string_view stream, DeflateEnd* end) {
  static const Alphabets alphabets;
  static const Code* const fixed = [] {
    static Code codes[2];
    uint8_t lengths[288];
    for (unsigned i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    codes[0].Build(lengths, 288, alphabets.litlen);
    std::memset(lengths, 5, 30);
    codes[1].Build(lengths, 30, alphabets.distance);
    return codes;
  }();
  const uint64_t stream_bits = uint64_t{stream.size()} * 8;
  BitReader in(stream);
  Code dynamic[2];
  for (bool final = false; !final;) {
    in.Refill();
    const uint64_t header = in.Position();
    final = in.Take(1) != 0;
    if (final) end->final_block_bit = header;
    const uint32_t type = in.Take(2);
    if (type == 0) {  // stored: LEN and its complement from the next whole byte, LEN bytes
      const uint64_t at = (in.Position() + 7) & ~uint64_t{7};
      in.Seek(at);
      const uint32_t length = in.Take(16);
      if ((in.Take(16) ^ 0xFFFF) != length || at + 32 + uint64_t{length} * 8 > stream_bits) {
        return false;
      }
      in.Seek(at + 32 + uint64_t{length} * 8);
      continue;
    }
    const Code* codes = fixed;
    if (type == 2) {
      if (!ReadCodes(alphabets, &in, &dynamic[0], &dynamic[1])) return false;
      codes = dynamic;
    } else if (type != 1) {
      return false;
    }
    if (!SkipSymbols(codes[0], codes[1], stream_bits, &in)) return false;
  }
  const uint64_t stop = in.Position();
  end->unused_bits = static_cast<unsigned>(stream_bits - stop);
  return stream_bits - stop < 8;
}
