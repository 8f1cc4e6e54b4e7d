// The version record carried in the built executable.

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/Process.h"

namespace korrin::test {
namespace {

template <typename T>
T At(const std::string& image, std::size_t offset) {
    T value{};
    if (offset + sizeof value <= image.size())
        std::memcpy(&value, image.data() + offset, sizeof value);
    return value;
}

// The contents of the named section of a 64-bit ELF image, and its type; empty when absent.
std::string Section(const std::string& image, const std::string& name, std::uint32_t& type) {
    const auto header = At<Elf64_Ehdr>(image, 0);
    const auto names =
        At<Elf64_Shdr>(image, header.e_shoff + header.e_shstrndx * sizeof(Elf64_Shdr));
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        const auto section = At<Elf64_Shdr>(image, header.e_shoff + i * sizeof(Elf64_Shdr));
        if (names.sh_offset + section.sh_name >= image.size()) continue;
        if (image.c_str() + names.sh_offset + section.sh_name != name) continue;
        type = section.sh_type;
        return image.substr(section.sh_offset, section.sh_size);
    }
    return {};
}

// NUL-terminated key=value texts, the last one with its NUL.
constexpr char expectedRecord[] =
    "FileDescription=Web file downloader."
    "\0"
    "FileVersion=1.4.0.0"
    "\0"
    "ProductVersion=1.4.0.0"
    "\0"
    "InternalName=korrin"
    "\0"
    "ProductName=korrin";

TEST(VersionRecord, ExecutableCarriesANoteWithDescriptionVersionAndName) {
    const std::string image = ReadFile(KorrinBinary());
    ASSERT_EQ(image.compare(0, SELFMAG, ELFMAG), 0);
    ASSERT_EQ(image[EI_CLASS], ELFCLASS64);
    std::uint32_t type = 0;
    const std::string note = Section(image, ".note.korrin.version", type);
    ASSERT_FALSE(note.empty());
    EXPECT_EQ(type, SHT_NOTE) << "readelf -n lists it";

    const auto ownerSize = At<std::uint32_t>(note, 0);
    const auto recordSize = At<std::uint32_t>(note, 4);
    ASSERT_EQ(ownerSize, sizeof "korrin");
    EXPECT_EQ(note.substr(12, ownerSize), std::string("korrin", sizeof "korrin"));
    const std::size_t recordStart = 12 + (ownerSize + 3) / 4 * 4;
    ASSERT_LE(recordStart + recordSize, note.size());
    const std::string record = note.substr(recordStart, recordSize);
    EXPECT_EQ(record, std::string(expectedRecord, sizeof expectedRecord));
}

}  // namespace
}  // namespace korrin::test
