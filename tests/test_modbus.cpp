// `qmhost run --modbus` in real time: libmodbus as the client, raw frames for
// the bytes on the wire, the web API to compare with; deadlines, no sleeps.
#include <gtest/gtest.h>
#include <httplib.h>
#include <modbus/modbus.h>
#include <poll.h>

#include <atomic>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "MeterMap.h"
#include "ModbusMapDocument.h"
#include "ModbusServer.h"
#include "RegisterImageCache.h"
#include "WebHost.h"

namespace {

using Bytes = std::vector<uint8_t>;

int modbusPort(const Host& host) {
    const std::string log = readFile(host.dir.path("host.log")), said = "qmhost: Modbus: 127.0.0.1:";
    const size_t at = log.find(said);
    return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + said.size());
}

struct Client {
    modbus_t* p;
    explicit Client(int port) : p(modbus_new_tcp("127.0.0.1", port)) { modbus_connect(p); }
    ~Client() { modbus_close(p), modbus_free(p); }
    // `count` registers from `first` by function code 3; empty when refused.
    std::vector<uint16_t> read(int first, int count) {
        std::vector<uint16_t> words(static_cast<size_t>(count));
        return modbus_read_registers(p, first, count, words.data()) == count ? words
                                                                             : std::vector<uint16_t>{};
    }
};

float floatAt(const std::vector<uint16_t>& words, size_t at) {
    return modbus_get_float_abcd(&words.at(at + 1) - 1);
}

// A request with transaction id 0x0102: the MBAP header before `pdu`.
Bytes frame(uint8_t unit, const Bytes& pdu) {
    Bytes bytes = {1, 2, 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), unit};
    for (uint8_t byte : pdu) bytes.push_back(byte);
    return bytes;
}

// What the server sends back within 2 s on `fd`, `request` sent first:
// nothing when it closes the connection, {0} when it says nothing.
Bytes exchange(int fd, const Bytes& request) {
    uint8_t buffer[300];
    pollfd ready{fd, POLLIN, 0};
    const ssize_t n = write(fd, request.data(), request.size()) >= 0 && poll(&ready, 1, 2000) == 1
                          ? read(fd, buffer, sizeof buffer)
                          : -1;
    return n < 0 ? Bytes{0} : Bytes(buffer, buffer + n);
}

class ModbusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pHost = new Host("127.0.0.1:0", "steady", "127.0.0.1:0"); }
    static void TearDownTestSuite() { delete s_pHost; }
    void SetUp() override {
        ASSERT_EQ(s_pHost->error, "");
        ASSERT_GT(m_port = modbusPort(*s_pHost), 0) << readFile(s_pHost->dir.path("host.log"));
    }
    static Host* s_pHost;
    int m_port = 0;
};
Host* ModbusTest::s_pHost = nullptr;

TEST(ModbusMap, DocumentIsTheOnePrintedFromTheTables) {
    EXPECT_EQ(readFile(QM_SOURCE_DIR "/docs/modbus.md"), modbusMapDocument())
        << "run: build/qmhost modbus-map > docs/modbus.md";
}

// What a generic client does: "SunS" at 40000, models 1 and 213 by their
// lengths to the end marker, and the simulated steady line in model 213.
TEST_F(ModbusTest, SunSpecChainWalkedToTheEndMarker) {
    Client client(m_port);
    ASSERT_EQ(client.read(40000, 2), (std::vector<uint16_t>{0x5375, 0x6E53}));
    std::vector<std::pair<int, int>> models;
    int at = 40002;
    for (std::vector<uint16_t> head; models.size() < 4; at += 2 + head[1]) {
        ASSERT_EQ((head = client.read(at, 2)).size(), 2u) << at;
        if (head[0] == 0xFFFF) break;
        models.emplace_back(head[0], head[1]);
    }
    EXPECT_EQ(models, (std::vector<std::pair<int, int>>{{1, 66}, {213, 124}}));
    EXPECT_EQ(client.read(at, 2), (std::vector<uint16_t>{0xFFFF, 0}));
    EXPECT_EQ(client.read(40020, 4), (std::vector<uint16_t>{0x514D, 0x3930, 0x3030, 0}));  // Md "QM9000"
    EXPECT_EQ(client.read(40068, 1), std::vector<uint16_t>{1});                            // DA: the unit id
    const std::vector<uint16_t> meter = client.read(40072, 124);
    ASSERT_EQ(meter.size(), 124u);
    for (int p = 0; p < 3; p++) {
        EXPECT_NEAR(floatAt(meter, 2 + 2 * p), 5, 0.01);                   // AphA...
        EXPECT_NEAR(floatAt(meter, 10 + 2 * p), 230, 0.01);                // PhVphA...
        EXPECT_NEAR(floatAt(meter, 18 + 2 * p), 230 * std::sqrt(3), 0.1);  // PPVphAB...
    }
    EXPECT_NEAR(floatAt(meter, 0), 15, 0.03);
    EXPECT_NEAR(floatAt(meter, 26), 2760, 0.5);   // W
    EXPECT_NEAR(floatAt(meter, 50), 80, 0.01);    // PF, %
    EXPECT_TRUE(std::isnan(floatAt(meter, 82)));  // TotVAhExp: not implemented
}

// Every float of the meter's map as /api/values gives it (two decimals), the
// lifetime counters in mWh as the Wh of the same save.
TEST_F(ModbusTest, MeterMapMatchesTheWebApi) {
    Client client(m_port);
    httplib::Client web("127.0.0.1", s_pHost->port);
    std::vector<uint16_t> image(RegisterImage::SIZE);
    const auto differences = [&] {
        const nlohmann::json api = nlohmann::json::parse(web.Get("/api/values")->body);
        const auto value = [&](const char* pszList, int n) {
            return std::stod(api["registers"][pszList][n]["value"].get<std::string>());
        };
        std::string found;
        for (const MapPoint& point : meterMap()) {
            const std::vector<uint16_t> words =
                client.read(point.place.nAddress, registerCount(point.place.type));
            std::copy(words.begin(), words.end(), image.begin() + point.place.nAddress);
            const float fModbus = words.size() == 2 ? floatAt(words, 0) : NAN;
            const uint64_t ull = words.size() == 4 ? uint64_t{words[0]} << 48 | uint64_t{words[1]} << 32 |
                                                         uint32_t{words[2]} << 16 | words[3]
                                                   : 0;
            const bool bSame =
                point.source == PointSource::Journal
                    ? std::fabs(fModbus - value("power", point.nIndex)) < 0.0051
                : point.source == PointSource::PeakDemand
                    ? std::fabs(fModbus - value("demand", point.nIndex)) < 0.0006
                : point.source == PointSource::Lifetime
                    ? std::fabs(ull / 1000.0 - api["lifetime"]["counters"][point.key].get<double>()) < 0.0011
                    : !words.empty();
            if (!bSame) found += " " + point.key;
        }
        return found;
    };
    // Until the meter has measured a second, with no save between the reads.
    const int ALL_WELL = status_MEASURING | status_CHIP_ANSWERING | status_RECORDING | status_LIFETIME;
    std::string found = "not yet";
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         !found.empty() && std::chrono::steady_clock::now() < deadline;)
        found = differences() + ((image[0] & ALL_WELL) == ALL_WELL ? "" : " STATUS");
    EXPECT_EQ(found, "");
}

// The bytes on the wire for each kind of request, each on a connection of its own.
TEST_F(ModbusTest, AnswersExceptionsAndClosesByTheFrame) {
    const Bytes CLOSED;
    const struct {
        const char* pszCase;
        Bytes request, expected;
    } CASES[] = {
        {"VRMS_A, 230.0 high word first", frame(1, {3, 0, 100, 0, 2}), frame(1, {3, 4, 0x43, 0x66, 0, 0})},
        {"input registers alike", frame(1, {4, 0, 100, 0, 2}), frame(1, {4, 4, 0x43, 0x66, 0, 0})},
        {"unit 0", frame(0, {3, 0, 100, 0, 1}), frame(0, {3, 2, 0x43, 0x66})},
        {"unit 255", frame(255, {3, 0, 100, 0, 1}), frame(255, {3, 2, 0x43, 0x66})},
        {"another unit", frame(7, {3, 0, 100, 0, 1}), frame(7, {0x83, 0x0B})},
        {"write single coil", frame(1, {5, 0, 0, 0xFF, 0}), frame(1, {0x85, 1})},
        {"write register", frame(1, {6, 0, 100, 0, 1}), frame(1, {0x86, 1})},
        {"write registers", frame(1, {16, 0, 100, 0, 1, 2, 0, 1}), frame(1, {0x90, 1})},
        {"read/write", frame(1, {23, 0, 100, 0, 1, 0, 100, 0, 1, 2, 0, 0}), frame(1, {0x97, 1})},
        {"in a gap", frame(1, {3, 0, 5, 0, 1}), frame(1, {0x83, 2})},
        {"across a block's end", frame(1, {3, 0, 163, 0, 2}), frame(1, {0x83, 2})},
        {"beyond the end marker", frame(1, {4, 0x9D, 0x2C, 0, 3}), frame(1, {0x84, 2})},  // 40236
        {"quantity 0", frame(1, {3, 0, 100, 0, 0}), frame(1, {0x83, 3})},
        {"quantity 126", frame(1, {3, 0, 100, 0, 126}), frame(1, {0x83, 3})},
        {"protocol id 1", {1, 2, 0, 1, 0, 6, 1, 3, 0, 100, 0, 1}, CLOSED},
        {"MBAP length 1", {1, 2, 0, 0, 0, 1, 1}, CLOSED},
        {"MBAP length 300", {1, 2, 0, 0, 1, 44, 1, 3}, CLOSED},
        {"a read one byte long", frame(1, {3, 0, 100, 0, 1, 0}), CLOSED},
    };
    for (const auto& c : CASES) {
        SCOPED_TRACE(c.pszCase);
        const int fd = connectFrom(1, m_port, 0);
        EXPECT_EQ(exchange(fd, c.request), c.expected);
        close(fd);
    }
}

// A module whose every answer is a new record (the voltage a volt up), with
// powers of its own voltages, currents and power factors.
struct MovingModule : MeasSOM {
    std::atomic<int> nCalls{0};
    int realtimeGet(int nType, void* pvResult, uint32_t ulMaxResult) override {
        float* pf = static_cast<float*>(memset(pvResult, 0, ulMaxResult));
        const float fVolts = 200.0f + static_cast<float>(nCalls++ % 100);
        for (int p = 0; p < 3 && (nType == REQ_MODBUS || nType == REQ_VANDI); p++) {
            pf[jrnl_VRMS_A + p] = fVolts, pf[jrnl_IRMS_A + p] = 5, pf[jrnl_PF_A + p] = 0.8f;
            pf[jrnl_WATT_A + p] = fVolts * 4, pf[jrnl_TOT_WATT] = fVolts * 12;
        }
        return REQ_OK;
    }
};

// Eight clients, a new image for each read, while one connection holds half a
// request (closed at the deadline) and another address its 16 connections (a
// 17th is closed at once):
// each is answered, every read's powers are its own voltages, currents and
// power factors, from one record, never two. Images that are not yet old
// cost the module nothing, whatever the number of reads.
TEST(ModbusImage, EightClientsBesideIdleOnesEachReadFromOneRecord) {
    MovingModule module;
    RegisterImageCache images({&module, {}, {}}, {"", "", 1}, std::chrono::milliseconds(0));
    ModbusServer server(images, 1, {64, 16, std::chrono::seconds(60), std::chrono::seconds(1), 16});
    std::string error;
    ASSERT_TRUE(server.start("127.0.0.1", 0, error)) << error;
    const int stalled = connectFrom(1, server.port(), 0);
    ASSERT_EQ(write(stalled, "\x01\x02\x00\x00\x00", 5), 5);
    std::vector<int> held;
    for (int i = 0; i < 17; i++) held.push_back(connectFrom(2, server.port(), 0));
    EXPECT_EQ(exchange(held.back(), {}), Bytes{}) << "the 17th is closed";
    std::atomic<int> torn{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; t++)
        clients.emplace_back([&] {
            Client client(server.port());
            for (int i = 0; i < 50; i++) {
                const std::vector<uint16_t> m = client.read(40072, 58);  // A ... PFphC
                if (m.empty()) return void(torn += 1000);
                float fSum = 0;
                for (int p = 0; p < 3; p++) {
                    const float fW = floatAt(m, 28 + 2 * p), fV = floatAt(m, 10 + 2 * p);
                    torn += std::fabs(fW - fV * floatAt(m, 2 + 2 * p) * floatAt(m, 52 + 2 * p) / 100) > 0.05f;
                    fSum += fW;
                }
                torn += std::fabs(floatAt(m, 26) - fSum) > 0.05f;
            }
        });
    for (std::thread& thread : clients) thread.join();
    EXPECT_EQ(torn, 0) << "(1000 a refused read)";
    EXPECT_GE(module.nCalls, 800) << "a new image for each read";
    RegisterImageCache lasting({&module, {}, {}}, {"", "", 1}, std::chrono::hours(1));
    const int nBefore = module.nCalls;
    for (int i = 0; i < 100; i++) lasting.current();
    EXPECT_EQ(module.nCalls - nBefore, 2) << "one record and one interval read";
    for (int fd : held) close(fd);
    EXPECT_EQ(exchange(stalled, {}), Bytes{}) << "half a request closed at its deadline";
    close(stalled);
}

}  // namespace
