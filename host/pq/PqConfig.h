// What the analysis judges the line against, and the check that gives every
// setting a usable value: a setting out of its range is named in a message and
// replaced by its default, so a bad configuration neither stops the analysis
// nor makes it judge against nonsense.
#pragma once

#include <string>
#include <vector>

namespace pq {

struct Config {
    double dDeclaredVolts = 230.0;      // the thresholds are percentages of it
    int nNominalHz = 50;                // 50 or 60
    double dDipPercent = 90.0;          // a dip starts below it
    double dSwellPercent = 110.0;       // a swell above it
    double dInterruptionPercent = 5.0;  // an interruption when every phase is below it
    double dHysteresisPercent = 2.0;    // an event ends this far back inside its threshold
    double dRvcPercent = 3.0;           // the rapid voltage change's band around the steady mean
    unsigned unMeasuredPhases = 7;      // bit 0 A, 1 B, 2 C: the others (an unconnected input) are not judged

    // 10/12 cycles: the basic aggregation interval.
    int halfCyclesPerBlock() const { return nNominalHz == 60 ? 24 : 20; }
    // 100/120 half-cycles: the rapid voltage change's steady-state window.
    int halfCyclesPerSecond() const { return 2 * nNominalHz; }
    double voltsAt(double dPercent) const { return dDeclaredVolts * dPercent / 100.0; }
    bool measures(int nPhase) const { return (unMeasuredPhases >> nPhase) & 1; }
    // Unbalance needs all three voltages.
    bool measuresAllPhases() const { return (unMeasuredPhases & 7) == 7; }
};

struct ConfigCheck {
    Config applied;                   // the configuration with each bad setting replaced by its default
    std::vector<std::string> errors;  // one for each replaced: the setting, its value, its range
};

ConfigCheck checkConfig(const Config& config);

}  // namespace pq
