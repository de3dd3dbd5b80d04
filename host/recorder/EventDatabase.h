// The recorder's SQLite database: events with their records, completed
// energy and demand intervals, and the waveform snapshots kept from the page. Write-ahead logging, one
// transaction per event, so an event is there whole or not at all, whatever stops the process. Records are
// stored whole: time, limit bits and the 70 journal values as little-endian 32-bit floats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AccumulatorTables.h"
#include "StoredEvent.h"

struct sqlite3;

// "<application directory>/qm9000.db": the database unless the host names another.
std::string defaultEventDatabasePath();

class EventDatabase {
public:
    EventDatabase() = default;
    ~EventDatabase();
    EventDatabase(const EventDatabase&) = delete;
    EventDatabase& operator=(const EventDatabase&) = delete;

    // Opens (creating) the database and its tables. False with `error` set.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_pDb != nullptr; }

    // Stores the event and its records in one transaction and sets its id;
    // false (nothing stored) with `error` set.
    bool storeEvent(StoredEvent& event, std::string& error);
    // Appends `event`'s records to stored event llId and gives that event
    // `event`'s end, classification, phases, extreme and duration, in one
    // transaction; false (nothing changed) with `error` set.
    bool extendEvent(int64_t llId, const StoredEvent& event, std::string& error);
    // Events left open by a recorder that stopped or crashed: closed, marked
    // incomplete. Only the recorder's own connection calls it, at open and stop.
    bool closeOpenEvents(std::string& error);
    bool storeInterval(const ACCUMULATOR_DATA& interval, std::string& error);

    // The event with its records; false when there is none (or on error).
    bool loadEvent(int64_t llId, StoredEvent& event, std::string& error);
    // The newest events first, without their records.
    std::vector<StoredEvent> listEvents(int nLimit, std::string& error);
    // The newest intervals first.
    std::vector<ACCUMULATOR_DATA> listIntervals(int nLimit, std::string& error);

    // Stores the snapshot and sets its id; false with `error` set.
    bool storeSnapshot(StoredSnapshot& snapshot, std::string& error);
    bool loadSnapshot(int64_t llId, StoredSnapshot& snapshot, std::string& error);
    // After a load that failed: true when the event or snapshot is not there,
    // false when the database failed (locked, unreadable).
    bool lastLoadMissed() const { return m_bMissed; }

private:
    bool execute(const char* pszSql, std::string& error);
    // Inserts the records from sequence number `seq` on; inside a transaction.
    bool insertRecords(int64_t llId, int64_t llFirstSeq, const std::vector<StoredRecord>& records);
    // Commits, or rolls back with `error` set when bDone is false or the commit fails.
    bool finish(bool bDone, std::string& error);
    std::string lastError() const;
    // A lookup's step: true on a row; else false with `error` set to `missing`
    // when there was none, or to the database's error.
    bool found(int nStep, const std::string& missing, std::string& error);

    sqlite3* m_pDb = nullptr;
    bool m_bMissed = false;
};
