// A Modbus TCP connection's bytes, arbitrary: frames are cut where their MBAP
// header says and never beyond the longest, a read that is answered lies in
// the map, and whatever the record holds, an image is made from it.
#include <algorithm>
#include <cstring>

#include "FuzzInput.h"
#include "ModbusRequest.h"
#include "RegisterImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0, length = 0;
    while (at < size && frameAt(data + at, size - at, length) == FrameState::Complete) {
        fuzz::check(length >= MBAP_HEADER + 1 && length <= MAX_FRAME && at + length <= size,
                    "a frame's length");
        const RequestVerdict verdict = judgeRequest(data + at, length, 1);
        if (verdict.kind == RequestVerdict::Read)
            fuzz::check(verdict.unCount >= 1 && verdict.unCount <= MAX_READ_REGISTERS &&
                            RegisterImage::exists(verdict.unAddress, verdict.unCount),
                        "a read answered lies in the map");
        at += length;
    }
    MeterReadings readings;
    readings.bRecord = readings.bDemand = readings.bLifetime = true;
    memcpy(readings.record.data(), data, std::min(size, sizeof readings.record));
    memcpy(readings.lifetime.values.data(), data, std::min(size, sizeof readings.lifetime.values));
    const RegisterImage image(readings, {"", "", 1});
    fuzz::check(image.at(SUNSPEC_BASE) == 0x5375 && image.at(RegisterImage::SIZE - 2) == 0xFFFF,
                "the SunSpec block is whole");
    return 0;
}
