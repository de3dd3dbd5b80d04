// The description table loaded from an arbitrary EEPROM: the input's first
// 224 bytes are the seven page headers, the rest is the text stored in every
// page's slot. Whatever the headers claim, a page holds at most 8160 bytes and
// its text ends within them; what loaded survives being written back and
// loaded again.
#include <algorithm>

#include "FuzzInput.h"
#include "MDT.h"
#include "Sim.h"

namespace {

constexpr size_t HEADER_BYTES = MDT_MAX_PAGES * sizeof(MDT_HEADER);

// Each page's header bytes and text, checked against the page's bounds.
std::vector<std::string> pagesOf(MDT& mdt) {
    std::vector<std::string> pages;
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
        pages.push_back(std::string(reinterpret_cast<const char*>(pHeader), sizeof(MDT_HEADER)) +
                        (pszText ? std::string(pszText, ulLength) : std::string()));
    }
    return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceStdout();
    fuzz::useScratchAsAppDirectory();
    static const bool bReset = (sim::reset(), true);
    (void)bReset;
    sim::eraseEeprom();
    sim::clearI2cLog();
    for (uint16_t p = 0; p < MDT_MAX_PAGES && p * sizeof(MDT_HEADER) < size; p++) {
        const size_t at = p * sizeof(MDT_HEADER);
        sim::fillEeprom(static_cast<uint16_t>(p * MDT_PAGE_STRIDE),
                        std::vector<uint8_t>(data + at, data + std::min(size, at + sizeof(MDT_HEADER))));
    }
    if (size > HEADER_BYTES) {
        const std::vector<uint8_t> text(data + HEADER_BYTES,
                                        data + std::min<size_t>(size, HEADER_BYTES + MDT_PAGE_TEXT_CAPACITY));
        for (uint16_t p = 0; p < MDT_MAX_PAGES; p++)
            sim::fillEeprom(static_cast<uint16_t>(p * MDT_PAGE_STRIDE + MDT_TEXT_OFFSET), text);
    }

    MDT mdt(sim::i2cDeviceOps());
    mdt.initialize(sim::kEepromAddress);
    if (mdt.loadFromChip()) {
        for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) mdt.createRegisterList(p);
        const std::vector<std::string> loaded = pagesOf(mdt);
        mdt.dump();
        // Written back and loaded again, the table is the same.
        sim::eraseEeprom();
        mdt.populateChip();
        MDT again(sim::i2cDeviceOps());
        again.initialize(sim::kEepromAddress);
        fuzz::check(again.loadFromChip(), "a table written back loads");
        fuzz::check(pagesOf(again) == loaded, "pages survive the round trip");
    } else {
        pagesOf(mdt);
    }
    fuzz::check(sim::i2cErrors().empty(), "the bus protocol is kept");
    fuzz::emptyScratchDirectory();
    return 0;
}
