// The line the chip measures. Only its frequency so far; per-phase amplitudes,
// angles and harmonics join it as registers come to be computed from it.
#pragma once

namespace sim::detail {

struct LineSignal {
    double frequencyHz = 50.0;  // 0: no signal, so no zero crossings
};

}  // namespace sim::detail
