#ifndef ORVO_IMAGING_DEFLATE_END_H_
#define ORVO_IMAGING_DEFLATE_END_H_

// Where a raw deflate stream's last block starts and where it ends, found by reading the blocks'
// headers and codes without producing the data they hold.
//
// Why not zlib's inflate, which stops at block boundaries too: it writes out every byte on the
// way, 4 MB for each band of a 4K picture. That took a quarter of the PNG writer's time;
// skipping the codes takes a quarter of inflate's time on screenshots.

#include <cstdint>
#include <string_view>

struct DeflateEnd {
  uint64_t final_block_bit = 0;  // the header bit that marks the last block, from the start
  unsigned unused_bits = 0;      // bits of the stream's last byte after the last block's end
};

// True, with *end filled, when `stream` is whole deflate blocks, the last one marked final and
// ending in the stream's last byte. False for anything else (a cut or padded stream, a symbol
// that is no code); *end is then unspecified. Only the blocks' structure is read: a stream that
// inflate refuses for what its data would be (a distance before the start, an incomplete code
// never used) may pass, with the ends inflate would find. Reads nothing outside `stream`.
bool FindDeflateEnd(std::string_view stream, DeflateEnd* end);

#endif  // ORVO_IMAGING_DEFLATE_END_H_
