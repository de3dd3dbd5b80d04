// Test hosts interpose time() and gettimeofday() with this file, so the module's
// wall clock is the simulated board's: settable, and moving with the virtual
// clock. In real-time mode they answer with the system's clock.
#pragma once
