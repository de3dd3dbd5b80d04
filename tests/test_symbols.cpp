// The binary contract of the built plug-in, read from its dynamic symbol
// table: the factory pair is exported, the board functions are imported and
// never defined inside, and nothing else is imported from outside the C and
// C++ runtime.
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
    bool bDefined;
    bool bWeak;
    bool bFunction;
    bool bVersioned;  // bound to a versioned library definition (libc, libstdc++, ...)
};

template <typename Ehdr, typename Shdr, typename Sym, unsigned char (*Bind)(unsigned char),
          unsigned char (*Type)(unsigned char)>
std::vector<DynamicSymbol> readSymbols(const std::vector<char>& image) {
    std::vector<DynamicSymbol> symbols;
    const auto* pHeader = reinterpret_cast<const Ehdr*>(image.data());
    if (pHeader->e_shoff == 0 || pHeader->e_shoff + pHeader->e_shnum * sizeof(Shdr) > image.size())
        return symbols;
    const auto* pSections = reinterpret_cast<const Shdr*>(image.data() + pHeader->e_shoff);
    const Shdr* pDynsym = nullptr;
    const Shdr* pVersym = nullptr;
    for (unsigned i = 0; i < pHeader->e_shnum; i++) {
        if (pSections[i].sh_type == SHT_DYNSYM) pDynsym = &pSections[i];
        if (pSections[i].sh_type == SHT_GNU_versym) pVersym = &pSections[i];
    }
    if (!pDynsym || pDynsym->sh_link >= pHeader->e_shnum) return symbols;
    const Shdr& strtab = pSections[pDynsym->sh_link];
    const char* pszNames = image.data() + strtab.sh_offset;
    const auto* pSyms = reinterpret_cast<const Sym*>(image.data() + pDynsym->sh_offset);
    const auto* pVersions =
        pVersym ? reinterpret_cast<const uint16_t*>(image.data() + pVersym->sh_offset) : nullptr;
    const size_t count = pDynsym->sh_size / sizeof(Sym);
    for (size_t i = 1; i < count; i++) {
        const Sym& sym = pSyms[i];
        DynamicSymbol symbol;
        symbol.name = pszNames + sym.st_name;
        symbol.bDefined = sym.st_shndx != SHN_UNDEF;
        symbol.bWeak = Bind(sym.st_info) == STB_WEAK;
        symbol.bFunction = Type(sym.st_info) == STT_FUNC;
        symbol.bVersioned = pVersions && (pVersions[i] & 0x7FFF) >= 2;
        symbols.push_back(symbol);
    }
    return symbols;
}

unsigned char bind32(unsigned char info) {
    return ELF32_ST_BIND(info);
}
unsigned char type32(unsigned char info) {
    return ELF32_ST_TYPE(info);
}
unsigned char bind64(unsigned char info) {
    return ELF64_ST_BIND(info);
}
unsigned char type64(unsigned char info) {
    return ELF64_ST_TYPE(info);
}

std::vector<DynamicSymbol> pluginSymbols() {
    std::ifstream file(QM_PLUGIN_PATH, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (image.size() < EI_NIDENT || memcmp(image.data(), ELFMAG, SELFMAG) != 0) return {};
    if (image[EI_CLASS] == ELFCLASS32)
        return readSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, bind32, type32>(image);
    return readSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, bind64, type64>(image);
}

const std::set<std::string> kBoardFunctions = {"wiringPiSPISetup",
                                               "wiringPiSPIDataRW",
                                               "wiringPiISR",
                                               "pinMode",
                                               "digitalWrite",
                                               "millis",
                                               "micros",
                                               "delay",
                                               "delayMicroseconds",
                                               "I2Cbegin",
                                               "I2Cend"};

TEST(PluginBinary, ExportsTheFactoryPair) {
    const auto symbols = pluginSymbols();
    ASSERT_FALSE(symbols.empty()) << "no dynamic symbols in " << QM_PLUGIN_PATH;
    for (const char* pszExport : {"create_object", "destroy_object"}) {
        const auto it = std::find_if(symbols.begin(), symbols.end(), [&](const DynamicSymbol& s) {
            return s.name == pszExport && s.bDefined;
        });
        ASSERT_NE(it, symbols.end()) << pszExport << " is not exported";
        EXPECT_TRUE(it->bFunction) << pszExport;
        EXPECT_FALSE(it->bWeak) << pszExport;
    }
}

TEST(PluginBinary, ImportsTheBoardFunctionsAndDefinesNone) {
    const auto symbols = pluginSymbols();
    ASSERT_FALSE(symbols.empty());
    std::set<std::string> imported;
    for (const DynamicSymbol& symbol : symbols) {
        if (!kBoardFunctions.count(symbol.name)) continue;
        EXPECT_FALSE(symbol.bDefined) << symbol.name << " is defined inside the plug-in";
        if (!symbol.bDefined) imported.insert(symbol.name);
    }
    // The cycle cannot run without these.
    for (const char* pszNeeded : {"wiringPiSPISetup", "wiringPiSPIDataRW", "wiringPiISR", "pinMode",
                                  "digitalWrite", "millis", "delay"})
        EXPECT_TRUE(imported.count(pszNeeded)) << pszNeeded << " is not imported";
}

TEST(PluginBinary, ImportsNothingElseFromOutsideTheRuntime) {
#ifdef QM_SANITIZED
    GTEST_SKIP() << "a sanitized build binds its imports to the sanitizer runtime, unversioned";
#endif
    for (const DynamicSymbol& symbol : pluginSymbols()) {
        if (symbol.bDefined || symbol.bWeak || symbol.bVersioned || kBoardFunctions.count(symbol.name))
            continue;
        ADD_FAILURE() << "unexpected import " << symbol.name;
    }
}

TEST(PluginBinary, ExportsNothingButTheFactoryPair) {
    for (const DynamicSymbol& symbol : pluginSymbols()) {
        if (!symbol.bDefined || symbol.name == "create_object" || symbol.name == "destroy_object") continue;
        // Linker-provided and runtime-interposable C++ symbols (sized deletes and
        // the like) are not part of the module.
        if (symbol.name.rfind("_Z", 0) == 0 || symbol.name.rfind("__", 0) == 0 || symbol.name.empty() ||
            symbol.name == "_init" || symbol.name == "_fini" || symbol.name == "_edata" ||
            symbol.name == "_end")
            continue;
        ADD_FAILURE() << "unexpected export " << symbol.name;
    }
}

}  // namespace
