// libqrv.so as a host loads it: exactly the agreed symbols leave the library, and
// the ordinal table points at them.
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "qrv.h"

namespace {

// The defined global and weak symbols of a shared library's dynamic symbol table.
std::set<std::string> ExportedSymbols(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (bytes.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        return names;
    auto section = [&](size_t i) {
        Elf64_Shdr s;
        std::memcpy(&s, bytes.data() + header.e_shoff + i * header.e_shentsize, sizeof s);
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr symbols = section(i);
        if (symbols.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr strings = section(symbols.sh_link);
        for (size_t k = 1; k < symbols.sh_size / sizeof(Elf64_Sym); ++k) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.data() + symbols.sh_offset + k * sizeof sym, sizeof sym);
            const int bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
            names.insert(bytes.data() + strings.sh_offset + sym.st_name);
        }
    }
    return names;
}

TEST(Library, ExportsExactlyTheAgreedSymbols) {
    const std::set<std::string> expected = {"_Z8MoveTestff",
                                            "_Z19_QRV3DRestoreDevicePb",
                                            "_IsWindowMode",
                                            "_IsWindowed",
                                            "_QRV3DChangeWindowSize",
                                            "_QRV3DEffect",
                                            "_QRV3DFillMode",
                                            "_QRV3DGet3DImage",
                                            "_QRV3DInit",
                                            "_QRV3DLoadMesh",
                                            "_QRV3DMoveEye",
                                            "_QRV3DReadQ3DFile",
                                            "_QRV3DRender",
                                            "_QRV3DSetTexture",
                                            "_QRV3DSetThreshold",
                                            "_QRV3DShadeMode",
                                            "_QRV3DTerm",
                                            "_QRV3DWriteQ3DFile",
                                            "_QRVMidiGetPos",
                                            "_QRVMidiInit",
                                            "_QRVMidiPlay",
                                            "_QRVMidiTempoChange",
                                            "_QRVMidiTerm",
                                            "qrvExportTable",
                                            "GlobalAlloc",
                                            "GlobalLock",
                                            "GlobalUnlock",
                                            "GlobalFree",
                                            "GlobalSize"};
    EXPECT_EQ(ExportedSymbols(QRV_LIBRARY_FILE), expected);
}

TEST(Library, OrdinalTableNamesTheExportedFunctions) {
    void *library = dlopen(QRV_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto *table = static_cast<const QrvExport *>(dlsym(library, "qrvExportTable"));
    ASSERT_NE(table, nullptr);
    for (int i = 0; i < QRV_EXPORT_COUNT; ++i) {
        SCOPED_TRACE(table[i].name);
        EXPECT_EQ(table[i].ordinal, i + 1);
        EXPECT_EQ(dlsym(library, table[i].name), table[i].function);
    }
    // Nothing of the engine's inside is reachable by name.
    EXPECT_EQ(dlsym(library, "Direct3DCreate9"), nullptr);
    EXPECT_EQ(dlsym(library, "_ZN3qrv13ReportFailureEPKci"), nullptr);
    // The library stays loaded: what its globals hold must not look like a leak.
    (void)library;
}

} // namespace
