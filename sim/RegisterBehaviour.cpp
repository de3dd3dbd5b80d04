#include "RegisterBehaviour.h"

#include "ChipRegisters.h"

namespace sim::detail {

namespace {

struct BehaviourRange {
    uint16_t first;
    uint16_t last;
    RegisterBehaviour behaviour;
};

constexpr RegisterBehaviour kReadOnly{Access::ReadOnly, WriteEffect::None};

// Ranges are inclusive and cover only catalogue addresses of one behaviour;
// gaps between catalogue runs inside a range hold no registers.
constexpr BehaviourRange kBehaviours[] = {
    {0x20A, 0x21D, kReadOnly},  // phase A measurements
    {0x22A, 0x23D, kReadOnly},  // phase B measurements
    {0x24A, 0x25D, kReadOnly},  // phase C measurements
    {0x265, 0x26A, kReadOnly},  // neutral measurements, ISUMRMS, VERSION2
    {0x2E5, 0x3A3, kReadOnly},  // energy and power accumulation
    {0x400, 0x401, kReadOnly},  // IPEAK, VPEAK
    {kRegStatus0, kRegStatus0, {Access::WriteOneToClear, WriteEffect::InterruptMask}},
    {kRegStatus1, kRegStatus1, {Access::WriteOneToClear, WriteEffect::InterruptMask}},
    {0x404, 0x404, kReadOnly},  // EVENT_STATUS
    {kRegMask0, kRegMask0, {Access::ReadWrite, WriteEffect::InterruptMask}},
    {kRegMask1, kRegMask1, {Access::ReadWrite, WriteEffect::InterruptMask}},
    {0x40A, 0x40D, kReadOnly},  // OIA..OIN
    {0x411, 0x413, kReadOnly},  // DIPA..DIPC
    {0x415, 0x41B, kReadOnly},  // SWELLA..SWELLC, APERIOD..COM_PERIOD
    {0x41F, 0x41F, kReadOnly},  // PHNOLOAD
    {0x423, 0x423, kReadOnly},  // LAST_DATA_32
    {0x472, 0x474, kReadOnly},  // PART_ID, TEMP_TRIM
    {kRegRun, kRegRun, {Access::ReadWrite, WriteEffect::RunControl}},
    {0x482, 0x48A, kReadOnly},             // ANGL_*
    {0x48F, 0x48F, kReadOnly},             // OISTATUS
    {0x49D, 0x49D, kReadOnly},             // PHSIGN
    {0x4A8, 0x4A8, kReadOnly},             // CRC_RSLT
    {0x4AC, 0x4AC, kReadOnly},             // LAST_DATA_16
    {0x4AE, 0x4AE, kReadOnly},             // LAST_CMD
    {0x4B7, 0x4B7, kReadOnly},             // TEMP_RSLT
    {0x4FE, 0x4FE, kReadOnly},             // Version
    {0x500, 0x516, kReadOnly},             // filter outputs
    {0x600, 0x63C, kReadOnly},             // first measurement copy
    {kBurstFirst, kBurstLast, kReadOnly},  // burst block: mirrors the primaries
};

}  // namespace

RegisterBehaviour behaviourOf(uint16_t address) {
    for (const auto& range : kBehaviours)
        if (address >= range.first && address <= range.last) return range.behaviour;
    return {Access::ReadWrite, WriteEffect::None};
}

}  // namespace sim::detail
