// The event database's tables, their version (PRAGMA user_version) and the
// move of an older layout to this one.
//
// Version 0 (user_version absent): intervals as the packed ACCUMULATOR_DATA
// of the build that wrote them, so a board's database read wrong on a PC;
// events without their open, incomplete and pruned marks.
// Version 1: intervals in columns, one per quantity, with their time as
// 64-bit microseconds; events marked; the pruning counts.
// Version 2: the lifetime energy counters.
// Version 3: the MQTT publisher's outbox, the messages waiting for the
// broker's acknowledgement, and how far it has queued the events and intervals.
// Version 4: power quality: 10-minute and 2-hour values, 10-second
// frequency values, voltage events and rapid voltage changes.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "AccumulatorTables.h"
#include "StoredEvent.h"

constexpr int EVENT_SCHEMA_VERSION = 4;

// Brings an open, writable database to EVENT_SCHEMA_VERSION in one
// transaction, a version at a time; a new one is made at version 0 and moved
// like any other.
// False with `error` set for a newer version (left as it is), a read-only
// database that needs moving, or a failure (nothing changed). `note` says what
// a move did, for the caller to tell; empty when there was none.
bool upgradeEventSchema(sqlite3* pDb, bool bWritable, std::string& error, std::string& note);

// The interval columns after the id: "time_us,accum_count,demand_count," then
// each quantity of ACCUMULATOR_DATA by its name in AccumulatorTables.h, lower
// case: demand_max_awatt ... demand_avg_tot_fva, energy_awatthr ...
// energy_total_tot_fvahr.
const std::string& intervalColumns();
int intervalColumnCount();
// "INSERT INTO intervals(id, <intervalColumns()>) VALUES(?,...)": a NULL id
// takes the next.
const std::string& intervalInsert();
// An interval at placeholders nFirst on, in intervalColumns() order.
void bindInterval(sqlite3_stmt* p, int nFirst, int64_t llTimeMicros, const ACCUMULATOR_DATA& interval);
// The columns of intervalColumns() from nFirst on; a quantity stored as NULL
// (SQLite keeps NaN so) reads as NaN.
ACCUMULATOR_DATA readInterval(sqlite3_stmt* p, int nFirst);
// A version 0 interval by its size: 392 bytes is the board's layout (32-bit
// time_t), 396 a 64-bit one's. False for any other size, or a time beyond
// 64-bit microseconds.
bool decodeIntervalBlob(const void* pBlob, size_t size, int64_t& llTimeSeconds, ACCUMULATOR_DATA& interval);

// The quantities of a power-quality interval by their column names' stems,
// in pq::Quantity's order: u_a ... u_c, i_a ..., thd_a ..., p_a ..., q_a ...,
// u2, u0; each stored as <stem>_min, <stem>_mean, <stem>_max.
extern const char* const PQ_QUANTITY_COLUMNS[17];

// "SELECT <the event columns> FROM events ", to be followed by a condition;
// readEventRow reads one of its rows, without the event's records.
extern const char* const EVENT_COLUMNS;
void readEventRow(sqlite3_stmt* p, StoredEvent& event);
