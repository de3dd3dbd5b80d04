// Whether the meter measures, as the host judges it after each process call:
// ready, the watchdog fed, each way of not measuring named, the give-up after
// the grace period; and qmhost's exit on a board whose devices are missing.
#include <sys/wait.h>

#include <cstdlib>
#include <functional>

#include "MeasuringWatch.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr uint64_t SECOND = 1000000;

class Service : public PluginTest {
protected:
    // Runs the module with a watch of a 10 s grace for `seconds` of virtual
    // time, process every millisecond; what the looks found, and when.
    struct Seen {
        uint64_t ullReadyAt = 0, ullFaultAt = 0, ullGiveUpAt = 0;
        MeasuringFault fault = MeasuringFault::None;
        int nFaultChanges = 0;
        bool bRecording = false;  // at the last look
    };
    Seen watchFor(MeasuringWatch& watch, uint64_t ullSeconds) {
        Seen seen;
        const uint64_t ullStart = sim::nowMicros(), ullEnd = ullStart + ullSeconds * SECOND;
        while (sim::nowMicros() < ullEnd) {
            sim::advance(1000);
            m_pModule->process();
            const uint64_t ullAt = sim::nowMicros() - ullStart;
            const MeasuringState state = watch.look(sim::nowMicros(), nextIn(), block().s_unSignalValidFlags);
            if (state.bReady) seen.ullReadyAt = ullAt;
            if (state.bFaultChanged && !seen.ullFaultAt) seen.ullFaultAt = ullAt;
            if (state.bGiveUp && !seen.ullGiveUpAt) seen.ullGiveUpAt = ullAt;
            seen.nFaultChanges += state.bFaultChanged;
            seen.fault = state.fault;
            seen.bRecording = state.bRecording;
        }
        return seen;
    }
    MeasuringWatch startWatched(const std::function<void()>& fault) {
        sim::reset();
        fault();
        captureStdout([&] { start(); });
        return MeasuringWatch({5 * SECOND, 10 * SECOND}, sim::nowMicros(), nextIn());
    }
};

// Each way the meter fails to measure is named at once (the chip's flags) or
// after 5 s without records, and given up on 10 s later; a healthy meter is
// ready with its first records and keeps feeding the watchdog.
TEST_F(Service, EachWayOfNotMeasuringIsNamedAndGivenUpOnAfterTheGrace) {
    const struct {
        const char* pszName;
        std::function<void()> fault;
        MeasuringFault expected;
        uint64_t ullFaultAt;  // seconds, rounded down
    } cases[] = {
        {"healthy", [] {}, MeasuringFault::None, 0},
        {"no interrupts", [] { sim::setNoInterrupts(true); }, MeasuringFault::NoRecords, 5},
        {"SPI failing", [] { sim::setSpiSetupResult(-1); }, MeasuringFault::SpiFailing, 0},
        {"chip absent", [] { sim::setBusFault(sim::BusFault::AbsentReadsOnes); },
         MeasuringFault::ChipNotAnswering, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        MeasuringWatch watch = startWatched(c.fault);
        const Seen seen = watchFor(watch, 20);
        EXPECT_EQ(seen.fault, c.expected);
        EXPECT_EQ(seen.nFaultChanges, c.expected == MeasuringFault::None ? 0 : 1);
        EXPECT_EQ(seen.bRecording, c.expected == MeasuringFault::None);
        if (c.expected == MeasuringFault::None) {
            EXPECT_GT(seen.ullReadyAt, 0u);  // with the first records
            EXPECT_LT(seen.ullReadyAt, SECOND / 10);
            EXPECT_EQ(seen.ullGiveUpAt, 0u);
        } else {
            EXPECT_EQ(seen.ullReadyAt, 0u);
            EXPECT_EQ(seen.ullFaultAt / SECOND, c.ullFaultAt);
            EXPECT_EQ((seen.ullGiveUpAt - seen.ullFaultAt) / SECOND, 10u);
        }
    }
}

// A chip that stops answering and comes back: named, then measuring again,
// with the grace period starting afresh.
TEST_F(Service, AChipThatComesBackIsMeasuringAgain) {
    MeasuringWatch watch = startWatched([] {});
    ASSERT_TRUE(watchFor(watch, 5).bRecording);
    sim::setBusFault(sim::BusFault::AbsentReadsOnes);
    Seen seen = watchFor(watch, 8);
    EXPECT_EQ(seen.fault, MeasuringFault::ChipNotAnswering);
    EXPECT_FALSE(seen.bRecording);
    sim::setBusFault(sim::BusFault::None);
    seen = watchFor(watch, 8);
    EXPECT_EQ(seen.fault, MeasuringFault::None);
    EXPECT_EQ(seen.nFaultChanges, 1);
    EXPECT_TRUE(seen.bRecording);
    EXPECT_EQ(seen.ullReadyAt, 0u);  // ready is said once
    sim::setBusFault(sim::BusFault::AbsentReadsOnes);
    EXPECT_EQ(watchFor(watch, 8).ullGiveUpAt, 0u);
}

#ifdef QM_HOST_PATH
// `qmhost run --board hw` where the board's devices do not exist: it names
// them and exits with status 1 once the grace period has passed (within a
// minute, or coreutils' timeout ends it with another status).
TEST(ServiceHost, RunOnABoardWithoutItsDevicesExitsNamingThem) {
    ScratchDirectory dir;
    for (const char* pszName : {"QM9000.json", "Cal9000.json", "Init9000.json", "CfgProbe.json"})
        dir.write(pszName, readFile(std::string(QM_CONFIG_DIR "/") + pszName));
    const auto setting = [&](const char* pszName, const char* pszDevice) {
        return std::string("{\"name\": \"") + pszName + "\", \"value\": \"" + dir.path(pszDevice) + "\"}\n";
    };
    dir.write("board.json", setting("SpiDevice0", "spidev0.0") + setting("GpioChip", "gpiochip0") +
                                setting("I2CBus", "i2c-1"));
    const int status = std::system(("cd " + dir.path() +
                                    " && QM_APP_DIR=. timeout 60 " QM_HOST_PATH
                                    " run --board hw --log --grace 1 </dev/null >out.log 2>errors.log")
                                       .c_str());
    const std::string errors = readFile(dir.path("errors.log"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << status << errors << readFile(dir.path("out.log"));
    EXPECT_NE(errors.find("qmhost: not measuring: SPI failing; missing: " + dir.path("spidev0.0") +
                          " (SPI), " + dir.path("gpiochip0") + " (GPIO), " + dir.path("i2c-1") + " (I2C)"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("qmhost: not measuring for 1 s (SPI failing)"), std::string::npos) << errors;
}
#endif

}  // namespace
