#include "mime/resource_registry.h"

#include "mime/reference_resolution.h"
#include "text/ascii.h"
#include "text/url_spelling.h"

namespace {

// One key for every spelling of a URL: escapes normalised, letter case ignored.
std::string UrlKey(std::string_view url) { return AsciiLowered(NormalizeUrlEscapes(url)); }

}  // namespace

const ResourceEntry* ResourceRegistry::Find(const std::string& location, bool is_url) const {
  // A local path is its own key: asked once per reference, it is not copied for the lookup.
  auto it = is_url ? folded_.find(UrlKey(location)) : exact_.find(location);
  return it == (is_url ? folded_ : exact_).end() ? nullptr : &entries_[it->second];
}

const ResourceEntry* ResourceRegistry::FindFile(uint64_t device, uint64_t inode) const {
  if (device == 0 && inode == 0) return nullptr;
  auto it = files_.find({device, inode});
  return it == files_.end() ? nullptr : &entries_[it->second];
}

void ResourceRegistry::Add(ResourceEntry entry) {
  if (entry.device != 0 || entry.inode != 0)
    files_.emplace(std::pair(entry.device, entry.inode), entries_.size());
  exact_[entry.location] = entries_.size();
  // Only a download answers a web reference: a local path is never looked up by URL.
  if (entry.from_url) folded_[UrlKey(entry.location)] = entries_.size();
  file_names_.insert(entry.file_name);
  entries_.push_back(std::move(entry));
}

void ResourceRegistry::ReplaceFile(size_t index, std::string local_file) {
  if (index >= entries_.size()) return;
  entries_[index].local_file = std::move(local_file);
  entries_[index].bytes.clear();
}

void ResourceRegistry::ReleaseBytes(size_t min_size) {
  for (ResourceEntry& entry : entries_) {
    if (!entry.bytes.empty() && entry.bytes.size() >= min_size) std::string().swap(entry.bytes);
  }
}
