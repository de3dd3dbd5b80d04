// TEMPORARY stand-ins for the half-cycle stages that land with the measurement
// engine (limits and events, energy and demand, phasors and waveforms). Each
// does nothing yet; the process cycle already calls them in their places.
#include "QM9000.h"

void QM9000::processEvents() {}

void QM9000::processEnergy() {}

void QM9000::processDemand() {}

void QM9000::processPhasor() {}

void QM9000::processWaveforms() {
    m_bGetWFB = false;
}

void QM9000::processHarmonics() {}
