// What the host commands through its STATUS_AND_CONTROL block: the operating
// mode (s_ulOpMode), the calibration command (s_ulCalMode) and the outcome the
// module writes back there; and the chip's health the module reports in
// s_unSignalValidFlags. The module and every host use these names.
#pragma once

#include <cstdint>

// s_ulOpMode. Any value but the two below is normal measuring.
constexpr uint32_t OPMODE_MEASURE = 0;
constexpr uint32_t OPMODE_CALIBRATE = 1;  // process runs one calibration command
constexpr uint32_t OPMODE_TEST = 99;      // process runs the register test

// s_ulCalMode as the host writes it.
enum eCalCommand : uint32_t {
    CAL_PENDING = 0,  // nothing to do
    CAL_CLEAN = 1,
    CAL_START = 2,
    CAL_SAVE = 3,
    CAL_CANCEL = 4,
    CAL_VGAIN = 5,
    CAL_IGAIN = 6,
    CAL_VOS = 7,
    CAL_IOS = 8,
    CAL_PHASE = 9,
    CAL_PGAIN = 10,
    CAL_PWOS = 11,
    CAL_PVAROS = 12,
    CAL_MULTIPOINT_DEFINE = 13,
    CAL_MULTIPOINT_GAIN = 14,
    CAL_MULTIPOINT_PHASE = 15,
    CAL_MULTIPOINT_ENABLE = 16,
    CAL_WFBOS = 17,
    CAL_COMMAND_COUNT = 18,
    CAL_ACKNOWLEDGE = 0xFFFFFFFF,  // the host saw a failure: back to measuring
};

// s_ulCalMode as the module leaves it after a command.
constexpr uint32_t CAL_OUTCOME_DONE = 0;
constexpr uint32_t CAL_OUTCOME_FAILED = 0xFFFFFFFF;

// What process returns in calibration mode.
constexpr int CAL_DONE = 0;
constexpr int CAL_UNRECOGNIZED = 2;  // no such command, or the acknowledgement
constexpr int CAL_BAD_INPUT = 4;     // input missing or out of range, capture timed out, file not written

// s_unSignalValidFlags: the chip's health, beside the module's signal flags.
// Both are set while the chip's status register reads all ones, and cleared
// once it reads a status again.
constexpr uint16_t SIGNAL_CHIP_NOT_ANSWERING = 0x0400;
constexpr uint16_t SIGNAL_SPI_FAILING = 0x0800;  // the board's SPI transfers fail
