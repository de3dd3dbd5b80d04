// Drives the plug-in as the host does: dlopen, the block, the virtual slots,
// against the simulated board on the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "HostBlock.h"
#include "PluginLoader.h"
#include "Sim.h"

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(m_loader.open(QM_PLUGIN_PATH)) << m_loader.error();
        m_block = makeHostBlock();
        m_pModule = m_loader.create();
        ASSERT_NE(m_pModule, nullptr);
    }

    void TearDown() override {
        if (m_pModule) m_loader.destroy(m_pModule);
        m_pModule = nullptr;
        // Every frame the module sent must have kept to the chip's wire format.
        for (const std::string& error : sim::protocolErrors())
            ADD_FAILURE() << "SPI protocol error: " << error;
        sim::reset();
    }

    STATUS_AND_CONTROL& block() { return *m_block; }

    void initialize() { ASSERT_EQ(m_pModule->initialize("QM9000.json", nullptr, m_block.get()), 0); }

    // initialize and updateConfig, as the host starts a module: the chip runs.
    void start() {
        initialize();
        ASSERT_EQ(m_pModule->updateConfig("QM9000.json"), 0);
    }

    // Calls process every `stepMillis` for the given span of virtual time (the
    // calls' own bus traffic counts towards it).
    void runFor(uint64_t millis, uint64_t stepMillis = 1) {
        const uint64_t ullEnd = sim::nowMicros() + millis * 1000;
        while (sim::nowMicros() < ullEnd) {
            sim::advance(std::min<uint64_t>(stepMillis * 1000, ullEnd - sim::nowMicros()));
            m_pModule->process();
        }
    }

    uint16_t nextIn() { return m_block->s_unAcqBufferNextIn; }

    static size_t countFrames(sim::FrameKind kind, uint16_t address) {
        const auto& log = sim::spiLog();
        return std::count_if(log.begin(), log.end(), [&](const sim::SpiFrame& frame) {
            return frame.kind == kind && frame.address == address;
        });
    }

    PluginLoader m_loader;
    HostBlockPtr m_block;
    MeasSOM* m_pModule = nullptr;
};
