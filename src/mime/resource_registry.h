#ifndef ORVO_MIME_RESOURCE_REGISTRY_H_
#define ORVO_MIME_RESOURCE_REGISTRY_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One resource an archive carries beside its page.
struct ResourceEntry {
  std::string content_id;  // without "cid:"
  std::string location;    // the resolved local path or URL that was embedded
  std::string local_file;  // the file that holds the bytes
  std::string file_name;   // the name under which the archive stores it
  std::string media_type;  // "image/png"; may be empty
  bool from_url = false;   // downloaded rather than a local file
  // The identity of a local file (device and inode); both 0 for a download.
  uint64_t device = 0;
  uint64_t inode = 0;
  // The file's content as it was read to admit it, which the codec then writes instead of
  // reading local_file again; empty when the codec reads local_file.
  std::string bytes{};
};

// The resources of one encode in the order they were first met. Owned by one encode on one
// thread; not thread-safe.
class ResourceRegistry {
 public:
  // The newest entry embedded from location, or null. URLs are compared without regard to
  // letter case and to how their escapes are spelt (the same resource may be written either
  // way in one page); local paths are compared exactly, as two names that differ in case are
  // two files here.
  const ResourceEntry* Find(const std::string& location, bool is_url) const;

  // The entry of the local file with that identity, whatever name it was reached by; null
  // when there is none (or for the identity 0, 0).
  const ResourceEntry* FindFile(uint64_t device, uint64_t inode) const;

  // Whether an entry is stored under file_name (compared exactly).
  bool HoldsFileName(const std::string& file_name) const {
    return file_names_.count(file_name) != 0;
  }

  void Add(ResourceEntry entry);
  // Points the entry at index to another file with the same content's new spelling (a style
  // sheet whose references were rewritten); its location and Content-ID stay, bytes read
  // before are let go.
  void ReplaceFile(size_t index, std::string local_file);
  // Lets go of the kept bytes of every entry that holds at least min_size of them.
  void ReleaseBytes(size_t min_size);
  const std::vector<ResourceEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<ResourceEntry> entries_;
  // Location to the newest entry's index: exact, and in lower case for URLs; a page with
  // thousands of pictures asks once per reference.
  std::unordered_map<std::string, size_t> exact_;
  std::unordered_map<std::string, size_t> folded_;
  std::map<std::pair<uint64_t, uint64_t>, size_t> files_;
  std::unordered_set<std::string> file_names_;
};

#endif  // ORVO_MIME_RESOURCE_REGISTRY_H_
