// qmhost, the reference host: loads QM9000.so as the meter's host application
// does, on the simulated or the real board, and runs the live meter, the
// calibration bench or the description-table tools.
#include "HostCommandLine.h"

int main(int argc, char** argv) {
    return hostMain(argc, argv);
}
