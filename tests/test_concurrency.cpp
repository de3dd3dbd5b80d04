// The module under a real host's threads: the board's interrupt thread, the
// host thread calling process and realtime readers of their own. Bounded by
// record counts and a deadline; under ThreadSanitizer it checks the locks.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "PluginFixture.h"

namespace {

class Concurrency : public PluginTest {};

TEST_F(Concurrency, RealtimeReadersRunBesideTheProcessCycle) {
    sim::setLineFrequency(49.0);  // every half-cycle starts a record
    start();
    ASSERT_EQ(m_pModule->monitorStart(), 0);
    sim::setClockMode(sim::ClockMode::RealTime);
    std::atomic<bool> bStop{false};
    std::atomic<int> nSnapshots{0};
    auto reader = [&](std::vector<int> types) {
        std::vector<char> buffer(16384);
        for (; !bStop.load(); std::this_thread::yield())
            for (int nType : types)
                if (m_pModule->realtimeGet(nType, buffer.data(), buffer.size()) == 0 && nType == 1) {
                    nSnapshots++;
                    m_pModule->realtimeGet(7, nullptr, 0);  // re-arm for the next one
                }
    };
    m_pModule->realtimeGet(7, nullptr, 0);
    std::thread records(reader, std::vector<int>{0, 2, 5, 10, 13}),
        reports(reader, std::vector<int>{11, 6, 1});
    const uint16_t unBefore = nextIn();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Over a second of records, so energy and demand are updated too.
    while ((static_cast<uint16_t>(nextIn() - unBefore) < 150 || nSnapshots.load() < 2) &&
           std::chrono::steady_clock::now() < deadline) {
        m_pModule->process();
        // The host's writer takes every recording window the trigger requests open.
        pthread_mutex_lock(&block().s_mutexEventIDs);
        block().s_unAcqBufferNextWrite = block().s_unAcqBufferLastWrite;
        pthread_mutex_unlock(&block().s_mutexEventIDs);
        std::this_thread::yield();
    }
    bStop = true;
    records.join();
    reports.join();
    sim::setClockMode(sim::ClockMode::Virtual);
    EXPECT_GE(static_cast<uint16_t>(nextIn() - unBefore), 150);
    EXPECT_GE(nSnapshots.load(), 2);
}

}  // namespace
