#include "ModbusRequest.h"

#include "RegisterImage.h"

namespace {

constexpr uint8_t READ_HOLDING = 3, READ_INPUT = 4;
constexpr uint8_t ILLEGAL_FUNCTION = 0x01, ILLEGAL_ADDRESS = 0x02, ILLEGAL_VALUE = 0x03,
                  GATEWAY_TARGET_FAILED = 0x0B;
constexpr size_t READ_FRAME = MBAP_HEADER + 5;  // function, address, quantity

uint16_t word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

FrameState frameAt(const uint8_t* pBytes, size_t nBytes, size_t& size) {
    if (nBytes >= 4 && word(pBytes + 2) != 0) return FrameState::Malformed;
    if (nBytes < 6) return FrameState::Incomplete;
    const size_t length = word(pBytes + 4);  // the unit id and the PDU
    if (length < 2 || length > MAX_FRAME - MBAP_HEADER + 1) return FrameState::Malformed;
    size = MBAP_HEADER - 1 + length;
    return nBytes >= size ? FrameState::Complete : FrameState::Incomplete;
}

RequestVerdict judgeRequest(const uint8_t* pFrame, size_t size, uint8_t uUnitId) {
    RequestVerdict verdict;
    const uint8_t uUnit = pFrame[MBAP_HEADER - 1], uFunction = pFrame[MBAP_HEADER];
    verdict.kind = RequestVerdict::Exception;
    if (uUnit != uUnitId && uUnit != UNIT_ANY_ZERO && uUnit != UNIT_ANY_FF)
        return verdict.uException = GATEWAY_TARGET_FAILED, verdict;
    if (uFunction != READ_HOLDING && uFunction != READ_INPUT)
        return verdict.uException = ILLEGAL_FUNCTION, verdict;
    if (size != READ_FRAME) return verdict.kind = RequestVerdict::Close, verdict;
    verdict.unAddress = word(pFrame + MBAP_HEADER + 1);
    verdict.unCount = word(pFrame + MBAP_HEADER + 3);
    if (verdict.unCount == 0 || verdict.unCount > MAX_READ_REGISTERS)
        return verdict.uException = ILLEGAL_VALUE, verdict;
    if (!RegisterImage::exists(verdict.unAddress, verdict.unCount))
        return verdict.uException = ILLEGAL_ADDRESS, verdict;
    verdict.kind = RequestVerdict::Read;
    return verdict;
}
