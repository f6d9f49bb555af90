#ifndef ORVO_TESTS_SUPPORT_FAKE_CLIPBOARD_H_
#define ORVO_TESTS_SUPPORT_FAKE_CLIPBOARD_H_

// A clipboard snapshot made of given offers, for the layers above the platform: it plays the
// odd owners a desktop has (one that lists a target and then refuses it, one that loses the
// clipboard after some reads) without an X server, and counts what was read.

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clipboard.h"

namespace fake_clipboard {

class FakeSnapshot : public ClipboardSnapshot {
 public:
  // offers: target names and their bytes, in the owner's order.
  explicit FakeSnapshot(std::vector<std::pair<std::string, std::string>> offers,
                        std::set<std::string> refused = {}, int reads_before_owner_changes = -1)
      : offers_(offers.begin(), offers.end()),
        refused_(std::move(refused)),
        reads_left_(reads_before_owner_changes) {
    for (const auto& offer : offers) targets_.push_back(offer.first);
  }

  const std::vector<std::string>& Targets() const override { return targets_; }

  // The contract of every snapshot: a failed read empties *data, and once the owner changed
  // every later read fails.
  bool Read(std::string_view target, std::string* data) override {
    data->clear();
    ++reads_[std::string(target)];
    if (reads_left_ == 0) return false;
    if (reads_left_ > 0) --reads_left_;
    auto offer = offers_.find(std::string(target));
    if (offer == offers_.end() || refused_.count(offer->first) != 0) return false;
    *data = offer->second;
    return true;
  }

  // Hands the bytes on in pieces of `size` (0: one piece), announcing no more than the first,
  // as an owner that under-announces an incremental transfer does.
  void set_piece_size(size_t size) { piece_size_ = size; }
  bool ReadInto(std::string_view target, ClipboardSink* sink) override {
    std::string data;
    if (!Read(target, &data)) return false;
    const size_t piece = piece_size_ == 0 ? data.size() + 1 : piece_size_;
    sink->Expect(std::min(piece, data.size()));
    for (size_t at = 0; at < data.size(); at += piece) {
      sink->Append(std::string_view(data).substr(at, piece));
    }
    return true;
  }

  // How often target was asked for.
  int ReadsOf(const std::string& target) { return reads_[target]; }

 private:
  std::map<std::string, std::string> offers_;
  std::set<std::string> refused_;
  int reads_left_;  // -1: the owner never changes
  std::vector<std::string> targets_;
  std::map<std::string, int> reads_;
  size_t piece_size_ = 0;
};

}  // namespace fake_clipboard

#endif  // ORVO_TESTS_SUPPORT_FAKE_CLIPBOARD_H_
