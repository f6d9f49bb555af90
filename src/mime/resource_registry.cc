#include "mime/resource_registry.h"

#include "mime/reference_resolution.h"
#include "text/ascii.h"

const ResourceEntry* ResourceRegistry::Find(std::string_view location, bool is_url) const {
  const auto& index = is_url ? folded_ : exact_;
  auto it = index.find(is_url ? AsciiLowered(location) : std::string(location));
  return it == index.end() ? nullptr : &entries_[it->second];
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
  folded_[AsciiLowered(entry.location)] = entries_.size();
  entries_.push_back(std::move(entry));
}

std::string ResourceRegistry::ResourceList() const {
  size_t size = 0;
  for (const ResourceEntry& e : entries_) {
    size +=
        e.content_id.size() + e.local_file.size() + e.file_name.size() + e.media_type.size() + 4;
  }
  std::string list;
  list.reserve(size);
  for (const ResourceEntry& e : entries_) {
    for (const std::string* field : {&e.content_id, &e.local_file, &e.file_name, &e.media_type}) {
      list += *field;
      list += '|';
    }
  }
  return list;
}
