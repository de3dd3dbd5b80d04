// The description table loaded from an arbitrary EEPROM: the input's first
// 224 bytes are the seven page headers, the rest is the text stored in every
// page's slot. Whatever the headers claim, a page holds at most 8160 bytes and
// its text ends within them; what loaded survives being written back and
// loaded again.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "MDT.h"
#include "Sim.h"

namespace {

constexpr size_t HEADER_BYTES = MDT_MAX_PAGES * sizeof(MDT_HEADER);

void emptyDirectory(const std::string& path) {
    if (DIR* pDir = opendir(path.c_str())) {
        while (const dirent* pEntry = readdir(pDir))
            if (strcmp(pEntry->d_name, ".") != 0 && strcmp(pEntry->d_name, "..") != 0)
                unlink((path + "/" + pEntry->d_name).c_str());
        closedir(pDir);
    }
}

struct LoadedPage {
    std::vector<uint8_t> header;
    std::string text;
};

std::vector<LoadedPage> pagesOf(MDT& mdt) {
    std::vector<LoadedPage> pages;
    for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) {
        MDT_HEADER* pHeader = nullptr;
        char* pszText = nullptr;
        mdt.getPageHeader(p, &pHeader);
        const uint32_t ulLength = mdt.getPage(p, &pszText, 0xFFFFFFFF);
        fuzz::check(ulLength <= MDT_PAGE_TEXT_CAPACITY, "a page holds at most 8160 bytes");
        fuzz::check(ulLength == 0 || pszText[ulLength - 1] == '\0', "a page's text ends within its length");
        const uint32_t ulHeaderLength = pHeader->s_ulLength;
        fuzz::check(pszText == nullptr || ulHeaderLength <= MDT_PAGE_TEXT_CAPACITY,
                    "a loaded header is clamped");
        const auto* pBytes = reinterpret_cast<const uint8_t*>(pHeader);
        pages.push_back({std::vector<uint8_t>(pBytes, pBytes + sizeof(MDT_HEADER)),
                         pszText ? std::string(pszText, ulLength) : std::string()});
    }
    return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceStdout();
    static const std::string appDir = [] {
        setenv("QM_APP_DIR", fuzz::scratchDirectory().c_str(), 1);
        sim::reset();
        return fuzz::scratchDirectory();
    }();
    sim::eraseEeprom();
    sim::clearI2cLog();

    const std::vector<uint8_t> input(data, data + size);
    for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) {
        const size_t at = p * sizeof(MDT_HEADER);
        if (at >= size) break;
        const size_t count = std::min(sizeof(MDT_HEADER), size - at);
        sim::fillEeprom(static_cast<uint16_t>(p * MDT_PAGE_STRIDE),
                        std::vector<uint8_t>(input.begin() + at, input.begin() + at + count));
    }
    if (size > HEADER_BYTES) {
        const size_t count = std::min<size_t>(size - HEADER_BYTES, MDT_PAGE_TEXT_CAPACITY);
        const std::vector<uint8_t> text(input.begin() + HEADER_BYTES, input.begin() + HEADER_BYTES + count);
        for (uint16_t p = 0; p < MDT_MAX_PAGES; p++)
            sim::fillEeprom(static_cast<uint16_t>(p * MDT_PAGE_STRIDE + MDT_TEXT_OFFSET), text);
    }

    MDT mdt(sim::i2cDeviceOps());
    mdt.initialize(sim::kEepromAddress);
    if (mdt.loadFromChip()) {
        for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) mdt.createRegisterList(p);
        const std::vector<LoadedPage> loaded = pagesOf(mdt);
        mdt.dump();

        // Written back and loaded again, the table is the same.
        sim::eraseEeprom();
        mdt.populateChip();
        MDT again(sim::i2cDeviceOps());
        again.initialize(sim::kEepromAddress);
        fuzz::check(again.loadFromChip(), "a table written back loads");
        const std::vector<LoadedPage> reloaded = pagesOf(again);
        for (uint16_t p = 0; p < MDT_MAX_PAGES; p++)
            fuzz::check(reloaded[p].text == loaded[p].text && reloaded[p].header == loaded[p].header,
                        "pages survive the round trip");
    } else {
        pagesOf(mdt);
    }
    fuzz::check(sim::i2cErrors().empty(), "the bus protocol is kept");
    emptyDirectory(appDir);
    return 0;
}
