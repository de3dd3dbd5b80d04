#include "ModbusMapDocument.h"

#include "MeterMap.h"
#include "SunsChain.h"

namespace {

constexpr const char* INTRODUCTION = R"(# The meter's Modbus registers

`qmhost run --modbus [ADDRESS:]PORT` serves them over Modbus TCP (127.0.0.1 when only a port is given;
the standard port is 502, which needs privileges: 1502 is usual). This file is printed by
`qmhost modbus-map` from the tables the server fills its registers from; do not edit it by hand.

- Read-only. Function codes 3 (read holding registers) and 4 (read input registers) read the same
  registers. Any other function code, writes included, is answered with exception 01 (illegal
  function); a read that touches an address outside the tables below, exception 02 (illegal data
  address: the gaps between the blocks are outside too); a quantity of 0 or above 125, exception 03
  (illegal data value).
- Unit id: the one given with `--modbus-unit` (default 1), and 0 and 255, which TCP gateways send.
  Any other unit id is answered with exception 0B (gateway target device failed to respond), so a
  client that asks for the wrong device learns so at once instead of waiting for its timeout.
- A frame whose MBAP header has a protocol id other than 0 or a length below 2 or above 254, or a
  read whose length is not that of a read, closes the connection.
- Addresses are the protocol's, counted from 0 (some clients number registers from 1, or add 40001).
- A float32 is an IEEE 754 single in two registers, a uint32 two registers and a uint64 four, the
  most significant register first, each register big-endian: 230.0 (0x43660000) is sent as the bytes
  43 66 00 00.
- All registers of one answer come from one reading of the meter: one published record of the
  module, the running interval's peak demand, the lifetime counters as last saved and the meter's
  health, read together at most every 100 ms whatever the number of clients.
- A value the module did not give is NaN; a lifetime counter that is not kept is 0xFFFFFFFFFFFFFFFF.
- The server holds at most 64 connections, 16 from one address; a connection idle for 60 s is
  closed, and a request must arrive whole within 5 s of its first byte. Modbus has no password:
  listening beyond the loopback, anyone on the network reads the meter, and the host says so.

## The meter's map

The lifetime energy counters (the same as the web page's, `/metrics` and MQTT) are whole
milli-watt-hours (mWh) and milli-var-hours (mvarh), rounded down, so a counter never goes back.
The interval energy and peak demand are those of the interval running now, since its start.

| Address | Key | Name | Unit | Type |
|---:|---|---|---|---|
)";

constexpr const char* STATUS_BITS = R"(
The status word (address 0), bit by bit: 0 measuring (half-cycle records made over the last second),
1 the measuring chip answers, 2 recording (the event database takes the recorder's writes), 3 recording
windows were lost or dropped since the start (how many: LOST_WINDOWS), 4 the lifetime energy counters
are kept, 5 the module answered the record read (else the floats are NaN). The limit status bits
(LIMITS) are the module's: a byte a phase, A in the lowest, with 0x01 voltage high, 0x02 voltage
low, 0x10 current high, 0x20 current low, and 0x80000000 the external trigger.
)";

std::string sunSpecSection() {
    const int nCommon = SUNSPEC_BASE + 2, nMeter = nCommon + 2 + SUNSPEC_COMMON_LENGTH;
    const int nEnd = nMeter + 2 + SUNSPEC_METER_LENGTH;
    return R"(
## SunSpec

For clients that find a meter by SunSpec, from address 40000: "SunS" (0x5375 0x6E53), then each model
as its ID, its length in registers and its points, then the end marker 0xFFFF with length 0. Text is
two ASCII characters a register, the first in the high byte, padded with NUL.

| Address | Model | Length | Content |
|---:|---|---:|---|
| )" + std::to_string(nCommon) +
           " | 1 (common) | " + std::to_string(SUNSPEC_COMMON_LENGTH) +
           R"( | Mn "QM" (16 registers), Md "QM9000" (16), Opt empty (8), Vr the host's version (8), SN the serial number of the module's description table (16), DA the unit id (1), Pad 0x8000 (1) |
| )" + std::to_string(nMeter) +
           " | 213 (three-phase meter, float) | " + std::to_string(SUNSPEC_METER_LENGTH) +
           R"( | the points below |
| )" + std::to_string(nEnd) +
           R"( | end marker 0xFFFF | 0 | |

Model 213's points (after its ID and length). A is the sum of the phase currents, PhV and PPV the
means of the phases; the line-to-line voltages are computed from the phase voltages and their angles.
PF is in percent. The energies are the lifetime counters in Wh (as floats, they lose the last
watt-hour beyond 16.7 MWh: the meter's map has them exact); the apparent and the per-quadrant
reactive energies are not counted by this meter and are NaN, SunSpec's "not implemented".

)" + sunSpecMeterTable();
}

}  // namespace

std::string modbusMapDocument() {
    std::string text = INTRODUCTION;
    for (const MapPoint& point : meterMap())
        text += "| " + std::to_string(point.place.nAddress) + " | " + point.key + " | " + point.name + " | " +
                point.unit + " | " + typeName(point.place.type) + " |\n";
    return text + STATUS_BITS + sunSpecSection();
}
