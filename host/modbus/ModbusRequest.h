// Modbus TCP requests as they arrive on a connection: where a frame ends (its
// MBAP header says) and what it gets. The server is read-only: function codes
// 3 and 4 read the same registers, everything else is refused.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t MBAP_HEADER = 7;                // transaction, protocol, length, unit
constexpr size_t MAX_FRAME = MBAP_HEADER + 253;  // the longest PDU
constexpr unsigned MAX_READ_REGISTERS = 125;
// Unit ids every server answers besides its own: TCP gateways send these.
constexpr uint8_t UNIT_ANY_ZERO = 0, UNIT_ANY_FF = 255;

enum class FrameState { Incomplete, Complete, Malformed };

// The frame at the start of `pBytes`: Complete with its length in `size`, or
// Malformed (a protocol id other than 0, an MBAP length below 2 or beyond the
// longest PDU), after which the stream cannot be followed.
FrameState frameAt(const uint8_t* pBytes, size_t nBytes, size_t& size);

struct RequestVerdict {
    enum Kind { Read, Exception, Close } kind = Close;
    uint8_t uException = 0;  // Exception: 01 function, 02 address, 03 quantity, 0B another unit
    uint16_t unAddress = 0, unCount = 0;
};

// What a complete frame gets from the server of unit `uUnitId`: a read of
// registers in the map, an exception, or Close for a read of the wrong length.
RequestVerdict judgeRequest(const uint8_t* pFrame, size_t size, uint8_t uUnitId);
