// `qmhost export EVENT-ID`: one recorded event from the event database as a
// COMTRADE record (<dir>/event-<id>.cfg and .dat) or a CSV table
// (<dir>/event-<id>.csv), for the field's analysis tools and spreadsheets.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "ComtradeExport.h"
#include "CsvExport.h"
#include "EventDatabase.h"
#include "HostCommandLine.h"

namespace {

constexpr const char* STATION = "QM9000";

struct ExportOptions {
    int64_t llEventId = 0;
    std::string format = "comtrade";
    std::string directory = ".";
    std::string database;  // empty: <appdir>/qm9000.db
};

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (file) {
        printf("qmhost export: wrote %s\n", path.c_str());
        return true;
    }
    toolFailed(path, std::string("cannot write it: ") + strerror(errno));
    return false;
}

int runExport(const ExportOptions& options) {
    const std::string path = options.database.empty() ? defaultEventDatabasePath() : options.database;
    // Opening would create an empty database where there is none.
    if (access(path.c_str(), R_OK) != 0)
        return toolFailed(path, std::string("no event database: ") + strerror(errno));
    EventDatabase database;
    StoredEvent event;
    std::string error;
    if (!database.open(path, error) || !database.loadEvent(options.llEventId, event, error))
        return toolFailed("export", error);
    const std::string base = options.directory + "/event-" + std::to_string(options.llEventId);
    if (options.format == "csv") return writeText(base + ".csv", csvOfEvent(event)) ? TOOL_OK : TOOL_FAILED;
    const ComtradeFiles files = comtradeOfEvent(event, STATION);
    if (files.empty()) return toolFailed("event " + std::to_string(options.llEventId), files.refusal);
    if (!files.note.empty())
        fprintf(stderr, "qmhost: event %lld: %s\n", static_cast<long long>(options.llEventId),
                files.note.c_str());
    return writeText(base + ".cfg", files.cfg) && writeText(base + ".dat", files.dat) &&
                   (files.hdr.empty() || writeText(base + ".hdr", files.hdr))
               ? TOOL_OK
               : TOOL_FAILED;
}

}  // namespace

ToolAction addExportCommand(CLI::App& command, HostOptions&) {
    auto options = std::make_shared<ExportOptions>();
    command.footer(
        "Writes one recorded event: as COMTRADE (IEEE C37.111-2013, ASCII), event-ID.cfg and\n"
        "event-ID.dat, one analog channel per recorded voltage, current, power and frequency,\n"
        "one sample per half-cycle record; or as CSV, event-ID.csv, one row per record.");
    command.add_option("EVENT-ID", options->llEventId, "The event's number in the database")
        ->required()
        ->check(CLI::PositiveNumber);
    command.add_option("--format", options->format, "comtrade or csv")
        ->capture_default_str()
        ->check(CLI::IsMember({"comtrade", "csv"}));
    command.add_option("--out", options->directory, "The directory to write to")
        ->capture_default_str()
        ->check(CLI::ExistingDirectory);
    command.add_option("--db", options->database, "The event database (default: <appdir>/qm9000.db)")
        ->type_name("PATH");
    return [options] { return runExport(*options); };
}
