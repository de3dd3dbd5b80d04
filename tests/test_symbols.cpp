// The built plug-in's dynamic symbols: it exports the factory pair, imports the board
// functions and defines none, and imports nothing else from outside the C/C++ runtime.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

struct DynamicSymbol {
    std::string name;
    bool bDefined, bWeak, bFunction;
    bool bVersioned;  // bound to a versioned library definition (libc, libstdc++, ...)
};

// ELF32_ST_BIND and ELF32_ST_TYPE read st_info the same way for both classes.
template <typename Ehdr, typename Shdr, typename Sym>
std::vector<DynamicSymbol> readSymbols(const std::vector<char>& image) {
    const auto* pHeader = reinterpret_cast<const Ehdr*>(image.data());
    if (pHeader->e_shoff == 0 || pHeader->e_shoff + pHeader->e_shnum * sizeof(Shdr) > image.size()) return {};
    const auto* pSections = reinterpret_cast<const Shdr*>(image.data() + pHeader->e_shoff);
    const Shdr *pDynsym = nullptr, *pVersym = nullptr;
    for (unsigned i = 0; i < pHeader->e_shnum; i++) {
        if (pSections[i].sh_type == SHT_DYNSYM) pDynsym = &pSections[i];
        if (pSections[i].sh_type == SHT_GNU_versym) pVersym = &pSections[i];
    }
    if (!pDynsym || pDynsym->sh_link >= pHeader->e_shnum) return {};
    const char* pszNames = image.data() + pSections[pDynsym->sh_link].sh_offset;
    const auto* pSyms = reinterpret_cast<const Sym*>(image.data() + pDynsym->sh_offset);
    const auto* pVersions =
        pVersym ? reinterpret_cast<const uint16_t*>(image.data() + pVersym->sh_offset) : nullptr;
    std::vector<DynamicSymbol> symbols;
    for (size_t i = 1; i < pDynsym->sh_size / sizeof(Sym); i++) {
        const Sym& sym = pSyms[i];
        symbols.push_back({pszNames + sym.st_name, sym.st_shndx != SHN_UNDEF,
                           ELF32_ST_BIND(sym.st_info) == STB_WEAK, ELF32_ST_TYPE(sym.st_info) == STT_FUNC,
                           pVersions && (pVersions[i] & 0x7FFF) >= 2});
    }
    return symbols;
}

std::vector<DynamicSymbol> pluginSymbols() {
    std::ifstream file(QM_PLUGIN_PATH, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (image.size() < EI_NIDENT || memcmp(image.data(), ELFMAG, SELFMAG) != 0) return {};
    if (image[EI_CLASS] == ELFCLASS32) return readSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(image);
    return readSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(image);
}

#ifdef QM_SANITIZED
constexpr bool kSanitized = true;  // imports bind to the sanitizer runtime, unversioned
#else
constexpr bool kSanitized = false;
#endif

// Linker-provided and runtime-interposable C++ symbols (sized deletes and the
// like) are not part of the module.
bool isRuntimeSymbol(const std::string& name) {
    return name.empty() || name.rfind("_Z", 0) == 0 || name.rfind("__", 0) == 0 || name == "_init" ||
           name == "_fini" || name == "_edata" || name == "_end";
}

TEST(PluginBinary, ExportsTheFactoryPairImportsTheBoardFunctionsAndNothingElseFromOutsideTheRuntime) {
    const std::set<std::string> kBoardFunctions({"wiringPiSPISetup", "wiringPiSPIDataRW", "wiringPiISR",
                                                 "pinMode", "digitalWrite", "millis", "micros", "delay",
                                                 "delayMicroseconds", "I2Cbegin", "I2Cend"});
    std::set<std::string> exported, imported;
    for (const DynamicSymbol& symbol : pluginSymbols()) {
        if (kBoardFunctions.count(symbol.name)) {
            EXPECT_FALSE(symbol.bDefined) << symbol.name << " is defined inside the plug-in";
            imported.insert(symbol.name);
        } else if (symbol.bDefined && !isRuntimeSymbol(symbol.name)) {
            exported.insert(symbol.name + (symbol.bFunction && !symbol.bWeak ? "" : " (no strong function)"));
        } else if (!symbol.bDefined && !symbol.bWeak && !symbol.bVersioned && !kSanitized) {
            ADD_FAILURE() << "unexpected import " << symbol.name;
        }
    }
    EXPECT_EQ(exported, (std::set<std::string>{"create_object", "destroy_object"}));
    // The cycle cannot run without these.
    const std::set<std::string> needed{
        "wiringPiSPISetup", "wiringPiSPIDataRW", "wiringPiISR", "pinMode", "digitalWrite", "millis", "delay"};
    EXPECT_TRUE(std::includes(imported.begin(), imported.end(), needed.begin(), needed.end()));
}

}  // namespace
