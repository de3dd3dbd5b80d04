// What the chip does with each register beyond storing it: the behaviour
// table. Registers the table does not name are plain read/write storage.
#pragma once

#include <cstdint>

namespace sim::detail {

enum class Access : uint8_t {
    ReadWrite,
    ReadOnly,         // measurement and identification registers: writes are ignored
    WriteOneToClear,  // status registers: each 1 written clears that bit
};

enum class WriteEffect : uint8_t {
    None,
    RunControl,     // RUN: 1 starts the signal processing, 0 stops it
    InterruptMask,  // a mask change can assert or release an interrupt line
};

struct RegisterBehaviour {
    Access access;
    WriteEffect effect;
};

RegisterBehaviour behaviourOf(uint16_t address);

}  // namespace sim::detail
