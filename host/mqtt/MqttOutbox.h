// The messages that must reach the broker (interval, event, energy), kept in
// the event database until it acknowledges them: a host killed or a broker
// away for days loses none of them. Bounded: beyond the bound the oldest are
// deleted, and counted. Beside them, how far the events and intervals have
// been queued, so a restart neither repeats nor skips one. One connection
// of its own, used by the publisher's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MqttTopics.h"

struct sqlite3;
struct sqlite3_stmt;

struct OutboxMessage {
    int64_t llId = 0;          // its place in the queue
    int64_t llTimeMicros = 0;  // the time of what it reports
    MqttMessage message;
};

// The last event and interval queued (their ids in the database).
struct RecordingCursor {
    int64_t llEventId = 0, llIntervalId = 0;
};

class MqttOutbox {
public:
    static constexpr size_t DEFAULT_MAX_MESSAGES = 10000;

    MqttOutbox() = default;
    ~MqttOutbox();
    MqttOutbox(const MqttOutbox&) = delete;
    MqttOutbox& operator=(const MqttOutbox&) = delete;

    // Opens the database (bringing it to this build's layout) for writing.
    // The first open ever starts the cursor after what is stored: a
    // database's past is not sent. False with `error` set.
    bool open(const std::string& path, size_t maxMessages, std::string& error);
    bool isOpen() const { return m_pDb != nullptr; }
    sqlite3* connection() const { return m_pDb; }

    // Appends `messages` and moves the cursor to `cursor` in one transaction;
    // adds to `dropped` the oldest deleted to stay within the bound.
    bool queue(const std::vector<OutboxMessage>& messages, const RecordingCursor& cursor, size_t& dropped,
               std::string& error);
    // Up to `nMax` messages queued after `llAfterId`, oldest first.
    bool next(int64_t llAfterId, int nMax, std::vector<OutboxMessage>& messages, std::string& error);
    // The broker has it. Removing one already dropped does nothing.
    bool remove(int64_t llId, std::string& error);
    size_t size() const { return m_size; }
    const RecordingCursor& cursor() const { return m_cursor; }

private:
    bool failed(std::string& error);
    void close();

    sqlite3* m_pDb = nullptr;
    sqlite3_stmt *m_pInsert = nullptr, *m_pNext = nullptr, *m_pRemove = nullptr;
    size_t m_maxMessages = DEFAULT_MAX_MESSAGES, m_size = 0;
    RecordingCursor m_cursor;
};
