// The binary contract of the built plug-in, read from its dynamic symbol
// table: the factory pair is exported, the board functions are imported and
// never defined inside, and nothing else is imported from outside the C and
// C++ runtime.
#include <elf.h>
#include <gtest/gtest.h>

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

// ELF32_ST_BIND and ELF32_ST_TYPE read st_info the same way for both classes.
template <typename Ehdr, typename Shdr, typename Sym>
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
        symbol.bWeak = ELF32_ST_BIND(sym.st_info) == STB_WEAK;
        symbol.bFunction = ELF32_ST_TYPE(sym.st_info) == STT_FUNC;
        symbol.bVersioned = pVersions && (pVersions[i] & 0x7FFF) >= 2;
        symbols.push_back(symbol);
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

const std::set<std::string> kBoardFunctions({"wiringPiSPISetup", "wiringPiSPIDataRW", "wiringPiISR",
                                             "pinMode", "digitalWrite", "millis", "micros", "delay",
                                             "delayMicroseconds", "I2Cbegin", "I2Cend"});

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

TEST(PluginBinary, ExportsTheFactoryPairAndNothingElseOfItsOwn) {
    const auto symbols = pluginSymbols();
    ASSERT_FALSE(symbols.empty()) << "no dynamic symbols in " << QM_PLUGIN_PATH;
    std::set<std::string> factories;
    for (const DynamicSymbol& symbol : symbols) {
        if (!symbol.bDefined || isRuntimeSymbol(symbol.name)) continue;
        if (symbol.name != "create_object" && symbol.name != "destroy_object") {
            ADD_FAILURE() << "unexpected export " << symbol.name;
        } else if (symbol.bFunction && !symbol.bWeak) {
            factories.insert(symbol.name);
        }
    }
    EXPECT_EQ(factories, (std::set<std::string>{"create_object", "destroy_object"}));
}

TEST(PluginBinary, ImportsTheBoardFunctionsDefinesNoneAndNothingElseFromOutsideTheRuntime) {
    const auto symbols = pluginSymbols();
    ASSERT_FALSE(symbols.empty());
    std::set<std::string> imported;
    for (const DynamicSymbol& symbol : symbols) {
        if (kBoardFunctions.count(symbol.name)) {
            EXPECT_FALSE(symbol.bDefined) << symbol.name << " is defined inside the plug-in";
            if (!symbol.bDefined) imported.insert(symbol.name);
        } else if (!symbol.bDefined && !symbol.bWeak && !symbol.bVersioned && !kSanitized) {
            ADD_FAILURE() << "unexpected import " << symbol.name;
        }
    }
    // The cycle cannot run without these.
    for (const char* pszNeeded : {"wiringPiSPISetup", "wiringPiSPIDataRW", "wiringPiISR", "pinMode",
                                  "digitalWrite", "millis", "delay"})
        EXPECT_TRUE(imported.count(pszNeeded)) << pszNeeded << " is not imported";
}

}  // namespace
