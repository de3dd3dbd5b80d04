#include "MeasuringWatch.h"

#include "HostCommands.h"
#include "RPi.h"

const char* describeFault(MeasuringFault fault) {
    switch (fault) {
        case MeasuringFault::None:
            return "measuring";
        case MeasuringFault::NoRecords:
            return "no half-cycle records (no interrupts on the IRQ line)";
        case MeasuringFault::SpiFailing:
            return "SPI failing";
        case MeasuringFault::ChipNotAnswering:
            return "chip not answering";
    }
    return "unknown";
}

MeasuringWatch::MeasuringWatch(const MeasuringLimits& limits, uint64_t ullStartMicros, uint16_t unNextIn)
    : m_limits(limits), m_ullLastRecordMicros(ullStartMicros), m_unNextIn(unNextIn) {}

MeasuringState MeasuringWatch::look(uint64_t ullNowMicros, uint16_t unNextIn, uint16_t unSignalFlags) {
    MeasuringState state;
    if (unNextIn != m_unNextIn) {
        m_ullRecords += (unNextIn + ACQ_BUFFER_RECORDS - m_unNextIn) % ACQ_BUFFER_RECORDS;
        m_unNextIn = unNextIn;
        m_ullLastRecordMicros = ullNowMicros;
        m_bRecordsSeen = true;
    }
    // A chip that does not answer still lets records be made, of nothing: its
    // flags come first.
    if (unSignalFlags & SIGNAL_SPI_FAILING)
        state.fault = MeasuringFault::SpiFailing;
    else if (unSignalFlags & SIGNAL_CHIP_NOT_ANSWERING)
        state.fault = MeasuringFault::ChipNotAnswering;
    else if (ullNowMicros - m_ullLastRecordMicros >= m_limits.ullNoRecordMicros)
        state.fault = MeasuringFault::NoRecords;

    if (state.fault != m_fault) {
        state.bFaultChanged = true;
        if (m_fault == MeasuringFault::None) m_ullFaultSinceMicros = ullNowMicros;
        m_fault = state.fault;
    }
    state.bRecording = m_bRecordsSeen && state.fault == MeasuringFault::None;
    state.bReady = state.bRecording && !m_bReadySaid;
    m_bReadySaid = m_bReadySaid || state.bReady;
    state.bGiveUp = state.fault != MeasuringFault::None &&
                    ullNowMicros - m_ullFaultSinceMicros >= m_limits.ullGraceMicros;
    return state;
}
