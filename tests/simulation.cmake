# The simulated board's own contract: SPI framing, the virtual clock, the
# status registers, the EEPROM's wrap-around.
qm_add_test(test_sim SOURCES test_sim.cpp LIBS qmsim)
