// The recorder's SQLite database: events with their records, completed
// energy and demand intervals, and the waveform snapshots kept from the page. Write-ahead logging, one
// transaction per event, so an event is there whole or not at all, whatever stops the process. Records are
// stored whole: time, limit bits and the 70 journal values as little-endian 32-bit floats; intervals one
// column per quantity (EventSchema.h), so a database reads the same on the board and on a PC. Within its
// StorageLimits: a write that finds no room (the bound or a full disk) prunes the oldest and is tried again.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AccumulatorTables.h"
#include "StorageLimits.h"
#include "StoragePruner.h"
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

    // Opens (creating) the database and brings it to this build's layout. A
    // file that cannot be written is opened read-only, so what it holds can
    // still be read (isWritable() false). False with `error` set: no database,
    // or one of a newer layout (never changed).
    bool open(const std::string& path, std::string& error, const StorageLimits& limits = StorageLimits{});
    bool isOpen() const { return m_pDb != nullptr; }
    void close();
    bool isWritable() const { return isOpen() && m_bWritable; }
    // Takes a write and rolls it back, so a database that will refuse the
    // recorder's writes (read-only, locked away, unreachable) is found at
    // start. False with `error` one line saying why.
    bool checkWritable(std::string& error);
    // For the page's status report, without a write: writable when opened
    // for writing (the recorder's own check and writes say whether it takes them).
    StorageStatus storageStatus();

    // Stores the event (open or not, as bOpen says) and its records in one
    // transaction and sets its id; false (nothing stored) with `error` set.
    bool storeEvent(StoredEvent& event, std::string& error);
    // Appends `event`'s records to stored event llId and gives that event
    // `event`'s end, classification, phases, extreme, duration and bOpen, in
    // one transaction; false (nothing changed) with `error` set.
    bool extendEvent(int64_t llId, const StoredEvent& event, std::string& error);
    // Events left open by a recorder that stopped or crashed: closed, marked
    // incomplete. Only the recorder's own connection calls it, at open and stop.
    bool closeOpenEvents(std::string& error);
    bool storeInterval(const ACCUMULATOR_DATA& interval, std::string& error);

    // The event with its records (none when they were pruned); false when
    // there is none (or on error).
    bool loadEvent(int64_t llId, StoredEvent& event, std::string& error);
    // The newest events first, without their records.
    std::vector<StoredEvent> listEvents(int nLimit, std::string& error);
    // The newest intervals first.
    std::vector<ACCUMULATOR_DATA> listIntervals(int nLimit, std::string& error);

    // Stores the snapshot and sets its id, the oldest beyond the cap
    // deleted; false with `error` set.
    bool storeSnapshot(StoredSnapshot& snapshot, std::string& error);
    bool loadSnapshot(int64_t llId, StoredSnapshot& snapshot, std::string& error);
    // Named counters that only grow (the lifetime energy), stored with the
    // moment they were brought up to date in one transaction that is on disk
    // when it returns, whatever cuts the power: this connection syncs every
    // write from then on. A stored value is never lowered. False with `error`.
    bool storeLifetimeEnergy(const std::map<std::string, double>& counters, int64_t llTimeMicros,
                             std::string& error);
    // Every stored counter, a value that is not a number read as NaN, and the
    // latest time (0 when there are none).
    bool loadLifetimeEnergy(std::map<std::string, double>& counters, int64_t& llTimeMicros,
                            std::string& error);

    // Other tables' writes (the power-quality rows): `body` on the connection
    // in a transaction of its own, about `llBytes` large, with room made as for
    // the recorder's. False with `error` (nothing written).
    using Transaction = std::function<bool(sqlite3* pDb, std::string& error)>;
    bool writeTransaction(int64_t llBytes, const Transaction& body, std::string& error);
    // For other tables' reads; null when not open.
    sqlite3* connection() const { return m_pDb; }

    // After a load that failed: true when the event or snapshot is not there,
    // false when the database failed (locked, unreadable).
    bool lastLoadMissed() const { return m_bMissed; }

private:
    using Write = std::function<bool(std::string& error)>;
    bool execute(const char* pszSql, std::string& error);
    // `body` in a transaction of its own, about `llBytes` large: room made
    // first, and tried again after pruning while it finds none.
    bool write(int64_t llBytes, const Write& body, std::string& error);
    // Inserts the records from sequence number `seq` on; inside a transaction.
    bool insertRecords(int64_t llId, int64_t llFirstSeq, const std::vector<StoredRecord>& records,
                       std::string& error);
    // After a statement failed: false, its message in `error`, its code kept
    // for write() (a statement finalized later would reset the connection's).
    bool failed(std::string& error);
    // A write taken and rolled back: SQLITE_OK, else why not in `why`.
    int probeWrite(std::string& why);
    std::string lastError() const;
    // Gives the power-quality events overlapping the stored event's span
    // without a link their link to it; inside a transaction.
    bool linkPqEvents(int64_t llId, int64_t llStartMicros, int64_t llEndMicros, std::string& error);
    // A lookup's step: true on a row; else false with `error` set to `missing`
    // when there was none, or to the database's error.
    bool found(int nStep, const std::string& missing, std::string& error);

    sqlite3* m_pDb = nullptr;
    std::string m_path;
    bool m_bWritable = false;
    bool m_bMissed = false;
    bool m_bSyncsEveryWrite = false;
    int m_nFailure = 0;  // the primary SQLite code of the latest failure in a write
    StoragePruner m_pruner;
};
