// The real board functions over the fake device layer: the loaded plug-in
// measures, records, calibrates and reads its EEPROM exactly as on the board,
// and every device failure gives its message and result.
#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <functional>
#include <string>

#include "BoardControl.h"
#include "BoardIO.h"
#include "CalibrationBench.h"
#include "ConfigFile.h"
#include "FakeDevices.h"
#include "MDT.h"
#include "PluginFixture.h"
#include "Recorder.h"
#include "ScratchFiles.h"

namespace {

constexpr double PI = 3.14159265358979323846;

class BoardOverFakeDevices : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        sim::resetFakeDevices();
        board::bindSystem(&sim::fakeDeviceSystem());
    }
    void TearDown() override {
        board::bindSystem(nullptr);  // the interrupt thread stops before the module goes
        EXPECT_EQ(sim::fakeDeviceCounts().openDescriptors, 0);
        PluginTest::TearDown();
    }
    void startWyeMeter() {
        writeConfig(m_app.path("QM9000.json"), wyeMeter());
        sim::setFullScale(500 * 0.90045f, 10);
        m_output += captureStdout([&] {
            ASSERT_EQ(m_pModule->initialize(m_app.path("QM9000.json").c_str(), &m_mdt, m_block.get()), 0);
            ASSERT_EQ(m_pModule->updateConfig(m_app.path("QM9000.json").c_str()), 0);
            ASSERT_EQ(m_pModule->monitorStart(), 0);
        });
    }

    ScratchAppDirectory m_app;  // holds board.json when a test writes one
    MDT m_mdt{*boardI2CDeviceOps()};
    std::string m_output;
};

// 230 V, 5 A, current lagging 36.87 degrees on every phase, IRQ1 and the
// reset pin on other line offsets through the board file.
TEST_F(BoardOverFakeDevices, MeasuresRecordsCalibratesAndReadsItsTableAsOnTheBoard) {
    m_app.write(
        "board.json",
        "{\"board\": [\n{\"name\": \"Pin12\", \"value\": 17},\n{\"name\": \"Pin5\", \"value\": 6}\n]}\n");
    sim::wireLine(17, 12);
    sim::wireLine(6, 5);
    // The table goes to the EEPROM and comes back over i2c-dev.
    m_mdt.initialize(sim::kEepromAddress);
    MDT_HEADER header{};
    header.s_ulType = MDT_PAGE_VALID;
    header.s_ulLength = static_cast<uint32_t>(strlen(g_pszJSON) + 1);
    header.s_ulNumberOfPages = 1;
    m_mdt.setPageHeader(0, &header);
    m_mdt.setPage(0, g_pszJSON, header.s_ulLength);
    m_mdt.populateChip();
    MDT reread(*boardI2CDeviceOps());
    reread.initialize(sim::kEepromAddress);
    ASSERT_TRUE(reread.loadFromChip());
    EXPECT_STREQ(reread.getDescription(0), m_mdt.getDescription(0));
    EXPECT_EQ(sim::eepromBytes(0x20, 8), std::vector<uint8_t>(g_pszJSON, g_pszJSON + 8));

    startWyeMeter();
    sim::setGainError(sim::Channel::VA, 1.3);
    m_pModule->realtimeGet(7, nullptr, 0);  // a waveform snapshot: 3074-byte bursts too
    runFor(500);
    std::vector<float> v(118);
    const auto values = [&] {
        EXPECT_EQ(m_pModule->realtimeGet(10, v.data(), 472), 0);
        return v;
    };
    const double dVA = 230.0 * 5.0, dLag = 36.87 * PI / 180;
    const struct {
        int nValue;
        double dTruth;
    } truths[] = {{jrnl_VRMS_B, 230}, {jrnl_IRMS_A, 5},      {jrnl_WATT_B, dVA * std::cos(dLag)},
                  {jrnl_VA_B, dVA},   {jrnl_PF_A, 0.8},      {jrnl_VAR_B, dVA * std::sin(dLag)},
                  {jrnl_FREQ_A, 50},  {jrnl_IANGLE_A, 36.87}};
    values();
    for (int p = 0; p < 2; p++)  // phase A's voltage has its gain error still
        for (const auto& t : truths) EXPECT_NEAR(v[t.nValue + p], t.dTruth, t.dTruth * 0.001) << t.nValue + p;
    EXPECT_NEAR(v[jrnl_VRMS_A], 230 * 1.013, 0.01);

    // A process call that makes a half-cycle record sends its 14 frames, each
    // frame one ioctl, but for the few where a 1 s energy interval's reads
    // fall in the same call; a recording window reaches the recorder.
    Recorder recorder(block(), VoltageThresholds{});
    std::string error;
    ASSERT_TRUE(recorder.open(m_app.path("qm9000.db"), error)) << error;
    // A trigger opens a window; the one its end would open falls while the
    // first is still being filled, and the module leaves a pending window be.
    m_pModule->realtimeGet(13, nullptr, 0);
    int nRecordsWithMore = 0;
    for (int i = 0; i < 3000; i++) {
        sim::advance(1000);
        const uint64_t ullMessages = sim::fakeDeviceCounts().spiMessages;
        const uint16_t unRecords = nextIn();
        m_pModule->process();
        if (nextIn() != unRecords) {
            ASSERT_GE(sim::fakeDeviceCounts().spiMessages - ullMessages, 14u);
            nRecordsWithMore += sim::fakeDeviceCounts().spiMessages - ullMessages > 14u;
        }
        recorder.afterProcess();
        recorder.step();
    }
    EXPECT_LE(nRecordsWithMore, 3);
    EXPECT_EQ(recorder.counts().unWindows, 1u);
    EXPECT_EQ(recorder.counts().ulRecords, 101u);  // TotalTrigCycles and the trigger record

    CalibrationBench bench(*m_pModule, block(), qmSimulatedLine());
    m_output += captureStdout([&] {
        EXPECT_EQ(bench.run(2, {}).nResult, 0);  // start
        EXPECT_EQ(bench.run(5, {}).nResult, 0);  // voltage gain
    });
    char szGain[32];
    snprintf(szGain, sizeof(szGain), "Gain: %f\r\n", 1 / 1.013);  // what brings phase A to the truth
    EXPECT_NE(m_output.find(szGain), std::string::npos) << m_output;
    EXPECT_EQ(sim::pinLevel(5), 1);  // the chip left out of reset through line 6

    std::map<uint32_t, uint64_t> framesByLength;
    for (const sim::SpiFrame& frame : sim::spiLog()) framesByLength[frame.sent.size()]++;
    EXPECT_EQ(sim::fakeDeviceCounts().spiMessagesByLength, framesByLength);
    EXPECT_TRUE(framesByLength.count(3074) && framesByLength.count(246) && framesByLength.count(4));
}

// Each device that cannot be had: one line naming it, the board file and the
// system's error, and the function's failure result.
TEST_F(BoardOverFakeDevices, DeviceFailuresGiveTheirMessageAndResult) {
    const std::string file = " (board file " + m_app.path("board.json") + "): ";
    const struct {
        std::function<void()> fault;
        std::function<int()> call;
        int nResult;
        std::string message;
    } cases[] = {
        {[] { sim::failDevice("/dev/spidev0.0", ENOENT); }, [] { return wiringPiSPISetup(0, 2500000); }, -1,
         "board: cannot open SPI device /dev/spidev0.0" + file + "No such file or directory\n"},
        {[] { sim::failDevice("/dev/i2c-1", EACCES); }, [] { return I2Cbegin(); }, -1,
         "board: cannot open I2C bus /dev/i2c-1" + file + "Permission denied\n"},
        {[] { sim::holdI2cLock(true); }, [] { return I2Cbegin(); }, -1,
         "board: cannot lock I2C bus /dev/i2c-1" + file + "Device or resource busy\n"},
        {[] { sim::failLineRequest(12, EBUSY); }, [] { return wiringPiISR(12, 1, [] {}); }, -1,
         "board: cannot watch GPIO /dev/gpiochip0 line 12 (pin 12)" + file + "Device or resource busy\n"},
        {[] { sim::failDevice("/dev/gpiochip0", ENOENT); },
         [] { return pinMode(5, 1), digitalWrite(5, 0), 0; }, 0,
         "board: no GPIO chip names line 17 \"GPIO17\" as the 40-pin header's chip does: using "
         "/dev/gpiochip0 "
         "(set GpioChip in board file " +
             m_app.path("board.json") + ")\nboard: cannot open GPIO chip /dev/gpiochip0" + file +
             "No such file or directory\n"},
        {[this] {
             m_app.write("board.json", "{\"name\": \"SpiMode\", \"value\": 4}\n{\"name\": \"Pin5\"}\n");
         },
         [] { return wiringPiSPISetup(0, 2500000) >= 0; }, 1,
         "board: " + m_app.path("board.json") + " line 1: \"SpiMode\" wants 0, 1, 2 or 3; ignored\nboard: " +
             m_app.path("board.json") + " line 2: \"Pin5\" has no value; ignored\n"},
    };
    for (const auto& c : cases) {
        board::bindSystem(&sim::fakeDeviceSystem());  // forgets the last case's devices and file
        sim::resetFakeDevices();
        c.fault();
        int nResult = 0;
        EXPECT_EQ(captureStdout([&] { nResult = c.call(); }), c.message);
        EXPECT_EQ(nResult, c.nResult) << c.message;
    }

    // An I2C error in the middle of reading the table: no table, the bus released.
    board::bindSystem(&sim::fakeDeviceSystem());
    sim::resetFakeDevices();
    sim::failI2cTransferAfter(3, EIO);
    m_mdt.initialize(sim::kEepromAddress);
    captureStdout([&] { EXPECT_FALSE(m_mdt.loadFromChip()); });
    EXPECT_EQ(sim::fakeDeviceCounts().openDescriptors, 0);
}

// IRQ1's line: watched on the chip the board file names by path or label,
// else on the one that carries the header's lines wherever the kernel
// numbered it (only its lines reach the pins), with the bias the file names;
// the thread rides out signals, failing reads (read again every 100 ms) and
// a refused priority, saying each at most once, and the next edge comes in.
TEST_F(BoardOverFakeDevices, WatchesIrqOnItsChipWithItsBiasThroughSignalsFailedReadsAndNoPriority) {
    static std::atomic<int> s_nRoutineCalls{0};
    const std::string file = m_app.path("board.json");
    const auto board = [this](bool bPi5, const std::string& settings) {
        if (bPi5)
            sim::setGpioChip(0, "gpio-brcmstb@107d508500", false), sim::setGpioChip(4, "pinctrl-rp1", true);
        m_app.write("board.json", settings);
    };
    const auto setting = [](const char* pszName, const char* pszValue) {
        return std::string("{\"name\": \"") + pszName + "\", \"value\": \"" + pszValue + "\"}\n";
    };
    const struct {
        std::function<void()> setUp;
        int nResult, nRoutineCalls, nFlags;
        uint64_t ullMicrosTaken;
        std::string message;
    } cases[] = {
        {[] { sim::interruptEventWaits(3); }, 0, 1, 0, 0, ""},
        {[] { sim::failEventReads(10, EIO); }, 0, 1, 0, 1000000,
         "board: cannot read events of GPIO /dev/gpiochip0 line 12 (pin 12) (board file " + file +
             "): Input/output error\n"},
        {sim::refuseRealtimePriority, 0, 1, 0, 0,
         "board: the interrupt thread runs at normal priority: SCHED_FIFO 50 refused (Operation not "
         "permitted); the service's LimitRTPRIO=50 or CAP_SYS_NICE grants it\n"},
        {sim::refuseRealtimePriority, 0, 1, 0, 0, ""},  // said once per process
        {[&] { board(true, setting("Bias", "pull-up")); }, 0, 1, GPIOD_LINE_REQUEST_FLAG_BIAS_PULL_UP, 0,
         "board: the 40-pin header's lines are on /dev/gpiochip4: using it\n"},
        {[&] { board(true, setting("GpioChip", "pinctrl-rp1") + setting("Bias", "pull-down")); }, 0, 1,
         GPIOD_LINE_REQUEST_FLAG_BIAS_PULL_DOWN, 0, ""},
        {[&] { board(true, setting("GpioChip", "/dev/gpiochip0") + setting("Bias", "as-is")); }, 0, 0, 0, 0,
         ""},
        {[&] { sim::setGpioChip(0, "gpio-mockup-A", false), board(false, setting("Bias", "up")); }, 0, 0, 0,
         0,
         "board: " + file + " line 1: \"Bias\" wants \"pull-up\", \"pull-down\" or \"as-is\"; ignored\n" +
             "board: no GPIO chip names line 17 \"GPIO17\" as the 40-pin header's chip does: using "
             "/dev/gpiochip0 (set GpioChip in board file " +
             file + ")\n"},
        {[&] { board(true, setting("GpioChip", "pinctrl-bcm2711")); }, -1, 0, -1, 0,
         "board: no GPIO chip of /dev/gpiochip0..15 is labelled \"pinctrl-bcm2711\" (board file " + file +
             ")\n"},
    };
    for (const auto& c : cases) {
        board::bindSystem(&sim::fakeDeviceSystem());
        sim::resetFakeDevices();
        c.setUp();
        s_nRoutineCalls = 0;
        const uint64_t ullStart = sim::nowMicros();
        EXPECT_EQ(captureStdout([&] {
                      EXPECT_EQ(wiringPiISR(12, 1, [] { s_nRoutineCalls++; }), c.nResult);
                      sim::fallingEdge(12);
                  }),
                  c.message);
        EXPECT_EQ(s_nRoutineCalls, c.nRoutineCalls) << c.message;
        EXPECT_EQ(sim::fakeDeviceCounts().eventRequestFlags, c.nFlags) << c.message;
        EXPECT_EQ(sim::nowMicros() - ullStart, c.ullMicrosTaken) << c.message;
    }
}

// The devices the board needs that cannot be opened, named with their role
// for the host, in as much of the list as there is room for.
TEST_F(BoardOverFakeDevices, MissingDevicesAreNamedWithTheirRole) {
    const struct {
        std::function<void()> fault;
        int nMissing;
        std::string list;
    } cases[] = {
        {[] {}, 0, ""},
        {[] {
             for (const char* path : {"/dev/spidev0.0", "/dev/gpiochip0", "/dev/i2c-1"})
                 sim::failDevice(path, EACCES);
         },
         3, "/dev/spidev0.0 (SPI), /dev/gpiochip0 (GPIO), /dev/i2c-1 (I2C)"},
    };
    for (const auto& c : cases) {
        board::bindSystem(&sim::fakeDeviceSystem());
        sim::resetFakeDevices();
        c.fault();
        char szList[80], szShort[8];
        captureStdout([&] {
            EXPECT_EQ(boardMissingDevices(szList, sizeof(szList)), c.nMissing);
            EXPECT_EQ(boardMissingDevices(szShort, sizeof(szShort)), c.nMissing);
        });
        EXPECT_EQ(szList, c.list);
        EXPECT_EQ(szShort, c.list.substr(0, sizeof(szShort) - 1));
    }
}

// Delays sleep to their deadline however often a signal cuts them short, and
// the counters are the monotonic clock's low 32 bits.
TEST_F(BoardOverFakeDevices, DelaysNeverReturnEarlyAndCountersWrap) {
    sim::reset(4294967000u);
    for (const unsigned unMillis : {1u, 150u, 3000u}) {
        sim::interruptSleeps(3);
        const uint64_t ullStart = sim::nowMicros();
        delay(unMillis);
        EXPECT_EQ(sim::nowMicros() - ullStart, unMillis * 1000u);
    }
    sim::interruptSleeps(2);
    const uint64_t ullStart = sim::nowMicros();
    delayMicroseconds(5000);
    EXPECT_EQ(sim::nowMicros() - ullStart, 5000u);
    EXPECT_EQ(micros(), static_cast<uint32_t>(sim::nowMicros()));
    EXPECT_EQ(millis(), static_cast<uint32_t>(sim::nowMicros() / 1000));
    EXPECT_LT(micros(), 4294967000u);  // wrapped
}

}  // namespace
