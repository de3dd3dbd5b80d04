// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Calibration mode of the process cycle: the command the host put in its
// block runs to completion, and its outcome goes back into the block. Also the
// sequence commands that manage the calibration constants (clean, start, save,
// cancel) and the register test mode.
#include <cstdio>

#include "BoardIO.h"
#include "QM9000CalibrateSteps.h"

namespace {

constexpr unsigned ACKNOWLEDGE_MILLIS = 1500;
constexpr unsigned CHIP_SETTLE_MILLIS = 1000;  // after the chip's calibration registers changed

constexpr uint16_t TEST_REGISTER = reg9000::AVGAIN;
constexpr uint32_t TEST_PATTERN = 0x00012345;

using CalCommand = int (QM9000::*)();

// Indexed by command code.
constexpr CalCommand CAL_COMMANDS[] = {
    &QM9000::processCalPending,           // 0
    &QM9000::processCalClean,             // 1
    &QM9000::processCalStart,             // 2
    &QM9000::processCalSave,              // 3
    &QM9000::processCalCancel,            // 4
    &QM9000::processCalVGain,             // 5
    &QM9000::processCalIGain,             // 6
    &QM9000::processCalVOS,               // 7
    &QM9000::processCalIOS,               // 8
    &QM9000::processCalPhase,             // 9
    &QM9000::processCalPGain,             // 10
    &QM9000::processCalPWOS,              // 11
    &QM9000::processCalPVAROS,            // 12
    &QM9000::processCalMultipointDefine,  // 13
    &QM9000::processCalMultipointGain,    // 14
    &QM9000::processCalMultipointPhase,   // 15
    &QM9000::processCalMultipointEnable,  // 16
    &QM9000::processCalWFBOS,             // 17
};
static_assert(sizeof(CAL_COMMANDS) / sizeof(CAL_COMMANDS[0]) == CAL_COMMAND_COUNT,
              "one operation per command code");

}  // namespace

int QM9000::processTest() {
    m_ADE9000.writeReg(TEST_REGISTER, TEST_PATTERN);
    uint32_t ulValue = 0;
    m_ADE9000.readReg(TEST_REGISTER, ulValue);
    printf("Address: 0x%04X, Value: 0x%08X\r\n", TEST_REGISTER, ulValue);
    return 0;
}

// The command runs without the lock: it may take several seconds, and the
// host's other threads only need the lock to post the next command.
int QM9000::processCalibrate() {
    STATUS_AND_CONTROL& stat = *m_pStat;
    int nResult = CAL_UNRECOGNIZED;

    pthread_mutex_lock(&stat.s_mutexOpMode);
    const uint32_t ulCommand = stat.s_ulCalMode;
    pthread_mutex_unlock(&stat.s_mutexOpMode);

    if (ulCommand == CAL_PENDING) return processCalPending();
    if (ulCommand < CAL_COMMAND_COUNT)
        nResult = (this->*CAL_COMMANDS[ulCommand])();
    else if (ulCommand == CAL_ACKNOWLEDGE)
        delay(ACKNOWLEDGE_MILLIS);

    // Clean, save, cancel and the acknowledgement end calibration mode.
    if (ulCommand == CAL_CLEAN || ulCommand == CAL_SAVE || ulCommand == CAL_CANCEL ||
        ulCommand == CAL_ACKNOWLEDGE) {
        pthread_mutex_lock(&stat.s_mutexOpMode);
        if (ulCommand == CAL_CLEAN || ulCommand == CAL_ACKNOWLEDGE) stat.s_ulCalMode = CAL_PENDING;
        stat.s_ulOpMode = OPMODE_MEASURE;
        pthread_mutex_unlock(&stat.s_mutexOpMode);
    }

    pthread_mutex_lock(&stat.s_mutexOpMode);
    stat.s_ulCalMode = nResult == CAL_DONE ? CAL_OUTCOME_DONE : CAL_OUTCOME_FAILED;
    pthread_mutex_unlock(&stat.s_mutexOpMode);
    return nResult;
}

int QM9000::processCalPending() {
    return CAL_DONE;
}

// The file is zeroed first; the list is then reloaded from it and pushed, so
// list, file and chip agree. A file that could not be written keeps its old
// constants, and so do the list and the chip after the reload.
int QM9000::processCalClean() {
    CalFrame frame("processCalClean");
    const CalPath path = calActivePath(*m_pStat);
    const bool bSaved = m_Cal9000.saveZeroCal();
    m_Cal9000.load(path.data());
    m_Cal9000.pushCal();
    delay(CHIP_SETTLE_MILLIS);
    if (!bSaved) {
        puts("processCalClean: Calibration file not written, constants kept\r");
        return frame.end(CAL_BAD_INPUT);
    }
    return frame.end(CAL_DONE);
}

// Zeroes the chip's listed registers, so the gain procedures measure the
// uncorrected channels. The list and the file keep their values.
int QM9000::processCalStart() {
    CalFrame frame("processCalStart");
    m_Cal9000.pushZeroCal();
    delay(CHIP_SETTLE_MILLIS);
    return frame.end(CAL_DONE);
}

// Commits the pending values to the file, then reloads and pushes the list.
// When the file cannot be written the pending values stay pending (and on the
// chip), so the save can be repeated instead of losing the calibration.
int QM9000::processCalSave() {
    CalFrame frame("processCalSave");
    if (m_Cal9000.HasChanged()) {
        if (!m_Cal9000.saveCal()) {
            puts("processCalSave: Calibration file not written, pending values kept\r");
            return frame.end(CAL_BAD_INPUT);
        }
        const CalPath path = calActivePath(*m_pStat);
        m_Cal9000.load(path.data());
        m_Cal9000.pushCal();
    }
    return frame.end(CAL_DONE);
}

// Discards the pending values by reloading the file. The chip keeps what the
// procedures pushed until the list is next pushed. A file that cannot be read
// leaves the pending values in place, and the command says so.
int QM9000::processCalCancel() {
    CalFrame frame("processCalCancel");
    if (m_Cal9000.HasChanged()) {
        const CalPath path = calActivePath(*m_pStat);
        m_Cal9000.load(path.data());
        if (m_Cal9000.HasChanged()) {
            puts("processCalCancel: Calibration file not read, pending values kept\r");
            return frame.end(CAL_BAD_INPUT);
        }
    }
    return frame.end(CAL_DONE);
}
