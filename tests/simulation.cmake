# The simulated board's physics: measurements, energy and waveforms,
# calibration registers, the module's EEPROM.
qm_add_test(test_sim_signal SOURCES test_sim_signal.cpp LIBS qmsim)
qm_add_test(test_sim_energy SOURCES test_sim_energy.cpp LIBS qmsim)
qm_add_test(test_sim_waveform SOURCES test_sim_waveform.cpp LIBS qmsim)
qm_add_test(test_sim_calibration SOURCES test_sim_calibration.cpp LIBS qmsim)
qm_add_test(test_sim_eeprom SOURCES test_sim_eeprom.cpp LIBS qmsim)
