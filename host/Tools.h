// The host's tools besides the live meter, run as `qmhost <tool> ...`.
#pragma once

// `qmhost calibrate ...`: the technician's calibration bench.
int calibrateTool(int argc, char** argv);

// `qmhost mdt ...`: the module description table in the module's EEPROM.
int mdtTool(int argc, char** argv);
