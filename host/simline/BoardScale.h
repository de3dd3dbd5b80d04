// The simulated board is built for the full scale its configuration states:
// the host sets the board's scale from the configuration file it hands the
// module, so the meter reads the applied line correctly.
#pragma once

#include <string>

struct BoardScale {
    double dVolts = 0;  // the voltage full scale as the module corrects it for the wiring
    double dAmps = 0;
    double dNominalVolts = 0;  // the line's nominal voltage ("VNominal")
};

// False when the file cannot be read; the scale then stays as given.
bool readBoardScale(const std::string& configFile, BoardScale& scale);
