// The board functions (declared in BoardIO.h) the host's own code calls (the module description
// table reaches its EEPROM through them), passed on to the board library
// loaded at start. qmhost links no board library, and it does not export
// these, so the module binds to the library itself.
#include "BoardIO.h"
#include "BoardLink.h"

int I2Cbegin(void) {
    return boardFunctions().i2cBegin();
}

void I2Cend(void) {
    boardFunctions().i2cEnd();
}

void delayMicroseconds(unsigned int howLong) {
    boardFunctions().delayMicroseconds(howLong);
}
