#include "platform/file_version.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/bus_error_guard.h"

namespace {

constexpr char kNoVersion[] = "0.0.0.0";

struct Version {
  uint16_t part[4];
};

// Bounds-checked little-endian reads from the mapped file.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}
  size_t size() const { return data_.size(); }
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  template <typename T>
  std::optional<T> Read(uint64_t offset) const {
    if (!Has(offset, sizeof(T))) return std::nullopt;
    T value;
    std::memcpy(&value, data_.data() + offset, sizeof(T));
    return value;
  }
  std::string_view Slice(uint64_t offset, uint64_t length) const {
    return Has(offset, length) ? data_.substr(offset, length) : std::string_view();
  }

 private:
  std::string_view data_;
};

uint64_t Align4(uint64_t value) { return (value + 3) & ~uint64_t{3}; }

// Walks one note area; returns the version of our note when it is there.
std::optional<Version> FindVersionNote(std::string_view area) {
  Bytes notes(area);
  uint64_t offset = 0;
  const size_t name_size = sizeof kVersionNoteName;  // With its terminating zero.
  while (notes.Has(offset, 12)) {
    uint32_t namesz = *notes.Read<uint32_t>(offset);
    uint32_t descsz = *notes.Read<uint32_t>(offset + 4);
    uint32_t type = *notes.Read<uint32_t>(offset + 8);
    uint64_t name_at = offset + 12;
    uint64_t desc_at = name_at + Align4(namesz);
    if (!notes.Has(desc_at, descsz)) return std::nullopt;
    if (type == kVersionNoteType && namesz == name_size && descsz == 16 &&
        std::memcmp(area.data() + name_at, kVersionNoteName, name_size) == 0) {
      Version version;
      for (int i = 0; i < 4; ++i) {
        version.part[i] = static_cast<uint16_t>(*notes.Read<uint32_t>(desc_at + 4 * i));
      }
      return version;
    }
    offset = desc_at + Align4(descsz);
  }
  return std::nullopt;
}

template <typename Ehdr, typename Phdr, typename Shdr>
std::optional<Version> ReadElfVersion(const Bytes& file, std::string_view data) {
  auto header = file.Read<Ehdr>(0);
  if (!header) return std::nullopt;
  // Program headers cover stripped files; section headers cover objects without them.
  for (uint32_t i = 0; i < header->e_phnum; ++i) {
    auto ph = file.Read<Phdr>(header->e_phoff + uint64_t{i} * sizeof(Phdr));
    if (!ph) break;
    if (ph->p_type != PT_NOTE || !file.Has(ph->p_offset, ph->p_filesz)) continue;
    if (auto v = FindVersionNote(data.substr(ph->p_offset, ph->p_filesz))) return v;
  }
  for (uint32_t i = 0; i < header->e_shnum; ++i) {
    auto sh = file.Read<Shdr>(header->e_shoff + uint64_t{i} * sizeof(Shdr));
    if (!sh) break;
    if (sh->sh_type != SHT_NOTE || !file.Has(sh->sh_offset, sh->sh_size)) continue;
    if (auto v = FindVersionNote(data.substr(sh->sh_offset, sh->sh_size))) return v;
  }
  return std::nullopt;
}

std::optional<Version> ReadElf(std::string_view data) {
  Bytes file(data);
  if (data.size() < EI_NIDENT || std::memcmp(data.data(), ELFMAG, SELFMAG) != 0) {
    return std::nullopt;
  }
  if (data[EI_DATA] != ELFDATA2LSB) return std::nullopt;  // Our builds are little-endian.
  if (data[EI_CLASS] == ELFCLASS64) return ReadElfVersion<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(file, data);
  if (data[EI_CLASS] == ELFCLASS32) return ReadElfVersion<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(file, data);
  return std::nullopt;
}

// --- PE: the VS_FIXEDFILEINFO of the first RT_VERSION resource ---------------------------

constexpr uint16_t kRtVersion = 16;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;

// Maps a relative virtual address to a file offset through the section table.
std::optional<uint64_t> RvaToOffset(const Bytes& file, uint64_t sections, uint16_t count,
                                    uint32_t rva) {
  for (uint16_t i = 0; i < count; ++i) {
    uint64_t at = sections + uint64_t{i} * 40;
    auto virtual_size = file.Read<uint32_t>(at + 8);
    auto virtual_address = file.Read<uint32_t>(at + 12);
    auto raw_size = file.Read<uint32_t>(at + 16);
    auto raw_pointer = file.Read<uint32_t>(at + 20);
    if (!virtual_size || !virtual_address || !raw_size || !raw_pointer) return std::nullopt;
    uint32_t extent = *virtual_size > *raw_size ? *virtual_size : *raw_size;
    if (rva >= *virtual_address && rva - *virtual_address < extent) {
      return uint64_t{*raw_pointer} + (rva - *virtual_address);
    }
  }
  return std::nullopt;
}

// In a resource directory at dir (file offset), the entry for id (or the first entry when
// id is 0). Returns the entry's raw offset field: high bit set for a subdirectory.
std::optional<uint32_t> FindResourceEntry(const Bytes& file, uint64_t dir, uint16_t id) {
  auto named = file.Read<uint16_t>(dir + 12);
  auto ids = file.Read<uint16_t>(dir + 14);
  if (!named || !ids) return std::nullopt;
  uint32_t total = uint32_t{*named} + *ids;
  for (uint32_t i = 0; i < total; ++i) {
    uint64_t entry = dir + 16 + uint64_t{i} * 8;
    auto name = file.Read<uint32_t>(entry);
    auto target = file.Read<uint32_t>(entry + 4);
    if (!name || !target) return std::nullopt;
    if (id == 0 || (!(*name & 0x80000000u) && (*name & 0xFFFF) == id)) return *target;
  }
  return std::nullopt;
}

// The version resource's data entry below the resource root: three levels, type (RT_VERSION),
// then the first name, then the first language.
std::optional<uint32_t> FindVersionDataEntry(const Bytes& file, uint64_t root) {
  uint64_t dir = root;
  uint16_t wanted[3] = {kRtVersion, 0, 0};
  uint32_t target = 0;
  for (int level = 0; level < 3; ++level) {
    auto entry = FindResourceEntry(file, dir, wanted[level]);
    if (!entry) return std::nullopt;
    target = *entry;
    bool is_directory = (target & 0x80000000u) != 0;
    if (level < 2 && !is_directory) return std::nullopt;
    if (level == 2 && is_directory) return std::nullopt;
    dir = root + (target & 0x7FFFFFFFu);
  }
  return target;
}

// The file version of the VS_VERSIONINFO block of size bytes at info.
std::optional<Version> ReadFixedVersion(const Bytes& file, uint64_t info, uint32_t size) {
  // Three WORDs, the key L"VS_VERSION_INFO" with its zero, padding to 32 bits.
  uint64_t fixed = info + Align4(6 + 16 * 2);
  if (fixed + 16 > info + size) return std::nullopt;
  if (file.Read<uint32_t>(fixed) != kFixedInfoSignature) return std::nullopt;
  uint32_t ms = *file.Read<uint32_t>(fixed + 8);
  uint32_t ls = *file.Read<uint32_t>(fixed + 12);
  return Version{{static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms & 0xFFFF),
                  static_cast<uint16_t>(ls >> 16), static_cast<uint16_t>(ls & 0xFFFF)}};
}

std::optional<Version> ReadPe(std::string_view data) {
  Bytes file(data);
  if (data.size() < 64 || data[0] != 'M' || data[1] != 'Z') return std::nullopt;
  uint32_t pe = *file.Read<uint32_t>(0x3C);
  if (file.Slice(pe, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
  auto section_count = file.Read<uint16_t>(pe + 6);
  auto optional_size = file.Read<uint16_t>(pe + 20);
  auto magic = file.Read<uint16_t>(pe + 24);
  if (!section_count || !optional_size || !magic) return std::nullopt;
  uint64_t directories = pe + 24 + (*magic == 0x20b ? 112 : 96);
  auto resource_rva = file.Read<uint32_t>(directories + 2 * 8);
  if (!resource_rva || *resource_rva == 0) return std::nullopt;
  uint64_t sections = pe + 24 + *optional_size;
  auto root = RvaToOffset(file, sections, *section_count, *resource_rva);
  if (!root) return std::nullopt;
  auto target = FindVersionDataEntry(file, *root);
  if (!target) return std::nullopt;
  uint64_t data_entry = *root + *target;
  auto data_rva = file.Read<uint32_t>(data_entry);
  auto data_size = file.Read<uint32_t>(data_entry + 4);
  if (!data_rva || !data_size) return std::nullopt;
  auto info = RvaToOffset(file, sections, *section_count, *data_rva);
  if (!info || !file.Has(*info, *data_size)) return std::nullopt;
  return ReadFixedVersion(file, *info, *data_size);
}

// A read-only mapping of a whole file; empty when the file cannot be mapped.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* address = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (address != MAP_FAILED) {
        address_ = address;
        size_ = static_cast<size_t>(st.st_size);
      }
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (address_ != nullptr) ::munmap(address_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  std::string_view data() const { return {static_cast<const char*>(address_), size_}; }

 private:
  void* address_ = nullptr;
  size_t size_ = 0;
};

struct VersionLookup {
  std::string_view data;
  std::optional<Version> version;
};

void LookUpVersion(void* context) {
  auto* lookup = static_cast<VersionLookup*>(context);
  lookup->version = ReadElf(lookup->data);
  if (!lookup->version) lookup->version = ReadPe(lookup->data);
}

}  // namespace

std::string FileVersionOf(const std::string& path) {
  if (path.empty()) return kNoVersion;
  MappedFile file(path);
  std::string_view data = file.data();
  if (data.empty()) return kNoVersion;
  // The companion may be replaced by its installer while we read it.
  VersionLookup lookup{data, std::nullopt};
  if (!CallCatchingBusError(LookUpVersion, &lookup) || !lookup.version) return kNoVersion;
  const std::optional<Version>& version = lookup.version;
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", version->part[0], version->part[1],
                version->part[2], version->part[3]);
  return text;
}
