// The module's classes reached directly, bound to a host block, against the
// simulated board on the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "BoardIO.h"
#include "HostBlock.h"
#include "QM9000.h"
#include "Sim.h"

class ModuleUnit : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_GE(wiringPiSPISetup(0, 2500000), 0);
        m_block = makeHostBlock();
        m_module.m_pStat = m_block.get();
        m_module.m_pAcqBuffer = g_pAcqBuffer = &m_block->s_AcquisitionBuffer[0];
        m_module.m_Cfg9000.initialize(&m_module);  // the file stores bound to the module
        m_module.m_Cal9000.initialize(&m_module);
        m_module.m_jsonInit.initialize(&m_module);
        m_module.m_Cfg9000.load("/nonexistent/QM9000.json");  // defaults
        m_module.m_bFound = true;
    }
    void TearDown() override {
        for (const std::string& error : sim::protocolErrors())
            ADD_FAILURE() << "SPI protocol error: " << error;
        sim::reset();
    }

    // The last value written to a register in the bus log.
    static std::optional<uint32_t> lastWrite(uint16_t unAddress) {
        std::optional<uint32_t> value;
        for (const auto& [address, written] : sim::spiWrites())
            if (address == unAddress) value = written;
        return value;
    }

    float* journal() { return m_block->s_AcquisitionBuffer[0].m_fJournal; }
    // Runs a realtime request into a buffer with a guard area behind it: the
    // text when it succeeds, and whether the buffer's first byte was left as it was.
    int request(int nType, uint32_t ulMaxResult, std::string& text) {
        std::vector<char> buffer(ulMaxResult + 65536, '\x7f');
        const int nResult = m_module.realtimeGet(nType, buffer.data(), ulMaxResult);
        m_bUntouched = buffer[0] == '\x7f';
        text = nResult == 0 ? std::string(buffer.data()) : std::string();
        return nResult;
    }

    HostBlockPtr m_block;
    QM9000 m_module;
    bool m_bUntouched = false;
};
