// The description table from an arbitrary EEPROM (input: the seven 32-byte page headers,
// then every page's text). Whatever the headers claim, a page holds at most 8160 bytes,
// its text ends within them, and what loaded survives being written back and reloaded.
#include <algorithm>

#include "FuzzInput.h"
#include "MDT.h"
#include "Sim.h"

static constexpr size_t HEADER_BYTES = MDT_MAX_PAGES * sizeof(MDT_HEADER);

// Each page's header bytes and text, checked against the page's bounds.
static std::vector<std::string> pagesOf(MDT& mdt) {
    std::vector<std::string> pages;
    for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) {
        MDT_HEADER* pHeader = nullptr;
        char* pszText = nullptr;
        mdt.getPageHeader(p, &pHeader);
        const uint32_t ulLength = mdt.getPage(p, &pszText, 0xFFFFFFFF);
        fuzz::check(ulLength <= MDT_PAGE_TEXT_CAPACITY, "a page holds at most 8160 bytes");
        fuzz::check(ulLength == 0 || pszText[ulLength - 1] == '\0', "a page's text ends within its length");
        fuzz::check(pszText == nullptr || uint32_t{pHeader->s_ulLength} <= MDT_PAGE_TEXT_CAPACITY,
                    "a loaded header is clamped");
        pages.push_back(std::string(reinterpret_cast<const char*>(pHeader), sizeof(MDT_HEADER)) +
                        (pszText ? std::string(pszText, ulLength) : std::string()));
    }
    return pages;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUp();
    sim::reset();  // an erased EEPROM, an empty bus log
    std::vector<uint8_t> bytes(data, data + std::min<size_t>(size, HEADER_BYTES + MDT_PAGE_TEXT_CAPACITY));
    if (bytes.size() < HEADER_BYTES) bytes.resize(HEADER_BYTES, 0xFF);  // headers cut short stay erased
    const std::vector<uint8_t> text(bytes.begin() + HEADER_BYTES, bytes.end());
    for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) {
        const auto header = bytes.begin() + p * sizeof(MDT_HEADER);
        sim::fillEeprom(static_cast<uint16_t>(p * MDT_PAGE_STRIDE),
                        std::vector<uint8_t>(header, header + sizeof(MDT_HEADER)));
        sim::fillEeprom(static_cast<uint16_t>(p * MDT_PAGE_STRIDE + MDT_TEXT_OFFSET), text);
    }

    MDT mdt(sim::i2cDeviceOps());
    mdt.initialize(sim::kEepromAddress);
    if (mdt.loadFromChip()) {
        for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) mdt.createRegisterList(p);
        const std::vector<std::string> loaded = pagesOf(mdt);
        mdt.dump();
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
