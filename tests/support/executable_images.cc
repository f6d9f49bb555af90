#include "support/executable_images.h"

#include <elf.h>

#include <cstring>
#include <fstream>

namespace testing_images {
namespace {

void Put16(std::string& s, size_t at, uint16_t v) {
  if (s.size() < at + 2) s.resize(at + 2);
  std::memcpy(&s[at], &v, 2);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  if (s.size() < at + 4) s.resize(at + 4);
  std::memcpy(&s[at], &v, 4);
}

// The VS_VERSIONINFO block: header, key, padding, VS_FIXEDFILEINFO.
std::string VersionInfo(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  std::string block;
  const char16_t key[] = u"VS_VERSION_INFO";
  size_t fixed = 40;  // 6 + 32 bytes of key, padded to 4.
  Put16(block, 0, static_cast<uint16_t>(fixed + 52));
  Put16(block, 2, 52);
  Put16(block, 4, 0);
  for (size_t i = 0; i < 16; ++i) Put16(block, 6 + 2 * i, static_cast<uint16_t>(key[i]));
  Put32(block, fixed, 0xFEEF04BD);
  Put32(block, fixed + 4, 0x00010000);
  Put32(block, fixed + 8, (uint32_t{a} << 16) | b);
  Put32(block, fixed + 12, (uint32_t{c} << 16) | d);
  Put32(block, fixed + 16, 0x00090000);  // Product version: must not be reported.
  Put32(block, fixed + 20, 0x00090009);
  block.resize(fixed + 52);
  return block;
}

}  // namespace

std::string MakePeWithVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d,
                              bool with_version) {
  const uint32_t kPe = 0x80, kSectionRva = 0x1000, kSectionRaw = 0x200;
  std::string f(kSectionRaw, '\0');
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, kPe);
  std::memcpy(&f[kPe], "PE\0\0", 4);
  Put16(f, kPe + 4, 0x8664);  // Machine.
  Put16(f, kPe + 6, 1);       // One section.
  Put16(f, kPe + 20, 240);    // Size of the PE32+ optional header.
  Put16(f, kPe + 24, 0x20b);
  size_t directories = kPe + 24 + 112;
  Put32(f, directories + 2 * 8, kSectionRva);  // Resource directory.
  Put32(f, directories + 2 * 8 + 4, 0x200);
  size_t section = kPe + 24 + 240;
  std::memcpy(&f[section], ".rsrc\0\0\0", 8);
  Put32(f, section + 8, 0x200);
  Put32(f, section + 12, kSectionRva);
  Put32(f, section + 16, 0x200);
  Put32(f, section + 20, kSectionRaw);

  // Resource tree: type -> name -> language -> data entry, then the data.
  std::string r(0x60, '\0');
  auto directory = [&](size_t at, uint32_t id, uint32_t target) {
    Put16(r, at + 14, 1);
    Put32(r, at + 16, id);
    Put32(r, at + 20, target);
  };
  directory(0x00, with_version ? 16 : 3, 0x80000000u | 0x18);
  directory(0x18, 1, 0x80000000u | 0x30);
  directory(0x30, 0x409, 0x48);
  std::string info = VersionInfo(a, b, c, d);
  Put32(r, 0x48, kSectionRva + 0x60);
  Put32(r, 0x4C, static_cast<uint32_t>(info.size()));
  r += info;
  r.resize(0x200, '\0');
  f.resize(kSectionRaw);
  f += r;
  return f;
}

std::string MakeElfWithNote(const std::string& note_name, uint32_t type, uint32_t a, uint32_t b,
                            uint32_t c, uint32_t d) {
  std::string note;
  uint32_t namesz = static_cast<uint32_t>(note_name.size() + 1);
  Put32(note, 0, namesz);
  Put32(note, 4, 16);
  Put32(note, 8, type);
  note += note_name;
  note.push_back('\0');
  note.resize((note.size() + 3) & ~size_t{3}, '\0');
  size_t desc = note.size();
  Put32(note, desc, a);
  Put32(note, desc + 4, b);
  Put32(note, desc + 8, c);
  Put32(note, desc + 12, d);

  Elf64_Ehdr header{};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS64;
  header.e_ident[EI_DATA] = ELFDATA2LSB;
  header.e_ident[EI_VERSION] = EV_CURRENT;
  header.e_type = ET_EXEC;
  header.e_machine = EM_X86_64;
  header.e_version = EV_CURRENT;
  header.e_ehsize = sizeof(Elf64_Ehdr);
  header.e_shentsize = sizeof(Elf64_Shdr);
  header.e_shnum = 2;
  size_t note_at = sizeof(Elf64_Ehdr);
  header.e_shoff = note_at + note.size();

  Elf64_Shdr sections[2]{};
  sections[1].sh_type = SHT_NOTE;
  sections[1].sh_offset = note_at;
  sections[1].sh_size = note.size();
  sections[1].sh_addralign = 4;

  std::string f(reinterpret_cast<const char*>(&header), sizeof header);
  f += note;
  f.append(reinterpret_cast<const char*>(sections), sizeof sections);
  return f;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace testing_images
