// The power-quality answers of the API as JSON: /api/pq, /api/aggregates,
// /api/report/en50160 and the analysis's events in /api/events.
#pragma once

#include <string>
#include <vector>

#include "En50160Report.h"
#include "PqFeeder.h"
#include "PqStorage.h"

// {"start":...,"parts":N,"complete":b,"flagged":b,"values":{"uA":{"min":..,"mean":..,"max":..},...}}
std::string jsonOfPqInterval(const pq::Interval& value);
// {"u2":%,"u0":%,"rvc":"steady"|"changing","cycles10":{...}|null,"cycles150":{...}|null,...}
std::string jsonOfPqLive(const PqLive& live, const pq::Config& config);
// {"period":"10min","from":...,"to":...,"count":N,"truncated":b,"intervals":[...]}; each interval
// also has "hz": the min, mean and max of the complete 10-second frequency values within it
// (`tenSeconds`, oldest first), null without one.
std::string jsonOfAggregates(const std::string& period, int64_t llFrom, int64_t llTo, bool bTruncated,
                             const std::vector<pq::Interval>& intervals,
                             const std::vector<pq::FrequencyValue>& tenSeconds);
std::string jsonOfEn50160Report(const pq::En50160Report& report, const pq::Config& config);
// An event of the analysis in /api/events: "kind", the fields of the
// recorder's events that apply, "id" as "pq<N>" and the recorder's event as "eventId".
std::string jsonOfPqEvent(const StoredPqEvent& event);
