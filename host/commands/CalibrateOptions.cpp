#include "CalibrateOptions.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "HostCommandLine.h"

namespace {

// "LABEL:NUMBER[:NUMBER...]", every number complete and finite.
struct Labelled {
    std::string label;
    std::vector<double> values;
};

std::optional<Labelled> parseLabelled(const std::string& text) {
    size_t start = text.find(':');
    if (start == std::string::npos) return std::nullopt;
    Labelled labelled{text.substr(0, start), {}};
    while (start != std::string::npos) {
        const size_t next = text.find(':', start + 1);
        const std::string field =
            text.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
        char* pEnd = nullptr;
        const double dValue = strtod(field.c_str(), &pEnd);
        if (field.empty() || *pEnd != '\0' || !std::isfinite(dValue)) return std::nullopt;
        labelled.values.push_back(dValue);
        start = next;
    }
    return labelled;
}

std::optional<LineChannel> channelNamed(const std::string& name) {
    const char* const names[] = {"IA", "VA", "IB", "VB", "IC", "VC", "IN"};  // in LineChannel order
    for (int i = 0; i < 7; i++)
        if (name == names[i]) return static_cast<LineChannel>(i);
    return std::nullopt;
}

std::optional<LinePhase> phaseNamed(const std::string& name) {
    if (name.size() != 1 || name[0] < 'A' || name[0] > 'C') return std::nullopt;
    return static_cast<LinePhase>(name[0] - 'A');
}

// A 32-bit unsigned number, decimal or 0x hexadecimal.
std::optional<uint32_t> parseCode(const std::string& text) {
    char* pEnd = nullptr;
    const unsigned long long ullCode = strtoull(text.c_str(), &pEnd, 0);
    if (text.empty() || text[0] == '-' || *pEnd != '\0' || ullCode > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(ullCode);
}

// CH:VALUE (a channel and a number `valueOk` takes); P:VALUE[:VALUE...].
bool isChannelValue(const std::string& text, bool (*valueOk)(double)) {
    const std::optional<Labelled> given = parseLabelled(text);
    return given && given->values.size() == 1 && channelNamed(given->label) && valueOk(given->values[0]);
}

bool isPhaseValues(const std::string& text, size_t maxValues) {
    const std::optional<Labelled> given = parseLabelled(text);
    return given && !given->values.empty() && given->values.size() <= maxValues && phaseNamed(given->label);
}

bool isCode(const std::string& text) {
    return parseCode(text).has_value();
}

bool isThresholds(const std::string& text) {
    const std::optional<Labelled> given = parseLabelled("T:" + text);
    return given && given->values.size() == 2;
}

LineChannelError& channelError(CalibrateOptions& options, LineChannel channel) {
    for (auto& [existing, error] : options.errors)
        if (existing == channel) return error;
    options.errors.push_back({channel, {}});
    return options.errors.back().second;
}

// An option taken each time the line gives it, in order with the others.
CLI::Option* addInOrder(CLI::App& command, const char* pszName, const char* pszTypeName,
                        const std::string& help, CLI::Validator check,
                        std::function<void(const std::string&)> take) {
    return command.add_option(pszName, CLI::callback_t(), help)
        ->type_name(pszTypeName)
        ->check(std::move(check))
        ->trigger_on_parse()
        ->each(std::move(take));
}

void addQuantityOptions(CLI::App& command, CalibrateOptions& options) {
    CalQuantities& q = options.quantities;
    const CLI::Validator code = acceptedBy(isCode, "a 32-bit unsigned number");
    addInOrder(command, "--volts", "V", "Applied RMS volts (230)", positiveFloat(),
               [&q](const std::string& text) { q.fVolts = strtof(text.c_str(), nullptr); });
    addInOrder(command, "--amps", "A", "Applied RMS amps (5)", positiveFloat(),
               [&q](const std::string& text) { q.fAmps = strtof(text.c_str(), nullptr); });
    addInOrder(command, "--region", "R", "Multipoint region", code,
               [&q](const std::string& text) { q.ulRegion = *parseCode(text); });
    addInOrder(command, "--thresholds", "LO:HI", "Multipoint thresholds", acceptedBy(isThresholds, "LO:HI"),
               [&q](const std::string& text) {
                   const std::vector<double> values = parseLabelled("T:" + text)->values;
                   q.fThreshLo = static_cast<float>(values[0]);
                   q.fThreshHi = static_cast<float>(values[1]);
               });
    addInOrder(command, "--option", "N", "Multipoint option", code,
               [&q](const std::string& text) { q.ulOption = *parseCode(text); });
    addInOrder(command, "--command", "N",
               "One command (0.." + std::to_string(CAL_COMMAND_COUNT - 1) + "; " +
                   std::to_string(CAL_ACKNOWLEDGE) +
                   " acknowledges a failure); repeatable, run in order with the quantities given before it",
               code, [&options](const std::string& text) {
                   options.commands.push_back({*parseCode(text), options.quantities});
               });
}

// The simulated line's channel errors, CH:VALUE: each sets one field of the
// channel's error.
struct ChannelErrorOption {
    const char* pszName;
    const char* pszHelp;
    const char* pszValue;  // what the value must be, for the message
    bool (*valueOk)(double);
    void (*set)(LineChannelError& error, double dValue);
};

const ChannelErrorOption CHANNEL_ERROR_OPTIONS[] = {
    {"--error", "Gain error of a channel (VA VB VC IA IB IC IN), percent", "CH:PERCENT above -100",
     [](double dValue) { return dValue > -100; },
     [](LineChannelError& error, double dValue) { error.gainPercent = dValue; }},
    {"--rms-offset", "RMS offset of a channel, volts or amps", "CH:NUMBER", [](double) { return true; },
     [](LineChannelError& error, double dValue) { error.rmsOffset = dValue; }},
    {"--dc-offset", "DC offset of a channel's waveform samples, counts", "CH:COUNTS within the int range",
     [](double dValue) { return std::fabs(dValue) <= std::numeric_limits<int>::max(); },
     [](LineChannelError& error, double dValue) { error.dcOffsetCounts = static_cast<int>(dValue); }},
};

void addSimulatedErrorOptions(CLI::App& command, CalibrateOptions& options) {
    for (const ChannelErrorOption& option : CHANNEL_ERROR_OPTIONS) {
        command.add_option(option.pszName, CLI::callback_t(), option.pszHelp)
            ->type_name("CH:VALUE")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->check(acceptedBy(
                [&option](const std::string& text) { return isChannelValue(text, option.valueOk); },
                std::string(option.pszValue) + ", CH one of VA VB VC IA IB IC IN"))
            ->group(SIMULATED_BOARD_ONLY)
            ->each([&options, &option](const std::string& text) {
                const Labelled given = *parseLabelled(text);
                option.set(channelError(options, *channelNamed(given.label)), given.values[0]);
            });
    }
    command.add_option("--phase-error", CLI::callback_t(), "Extra current lag of a phase (A B C), degrees")
        ->type_name("P:DEG")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(acceptedBy([](const std::string& text) { return isPhaseValues(text, 1); },
                           "P:NUMBER, P one of A B C"))
        ->group(SIMULATED_BOARD_ONLY)
        ->each([&options](const std::string& text) {
            const Labelled given = *parseLabelled(text);
            const auto current = static_cast<LineChannel>(2 * static_cast<int>(*phaseNamed(given.label)));
            channelError(options, current).phaseDegrees = given.values[0];
        });
    command
        .add_option("--power-offset", CLI::callback_t(), "Power offsets of a phase (A B C), watts and VAR")
        ->type_name("P:W[:VAR]")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(acceptedBy([](const std::string& text) { return isPhaseValues(text, 2); },
                           "P:W[:VAR], P one of A B C"))
        ->group(SIMULATED_BOARD_ONLY)
        ->each([&options](const std::string& text) {
            const Labelled given = *parseLabelled(text);
            options.powerOffsets.push_back(
                {*phaseNamed(given.label),
                 {given.values[0], given.values.size() > 1 ? given.values[1] : 0.0}});
        });
}

}  // namespace

void addCalibrateOptions(CLI::App& command, CalibrateOptions& options) {
    CLI::Option* pSequence =
        command.add_flag("--sequence", options.bSequence, "The full calibration, in order");
    addQuantityOptions(command, options);
    pSequence->excludes(command.get_option("--command"));
    command
        .add_option("--config", options.config,
                    "Measurement configuration (default: a 230 V, 5 A, 50 Hz wye meter with 500 V and 10 A "
                    "full scale)")
        ->type_name("PATH");
    command.add_option("--cal", options.cal, "Calibration file (default: a new one listing every constant)")
        ->type_name("PATH");
    command.add_flag("--verbose", options.bVerbose, "Show the module's own output");
    addSimulatedErrorOptions(command, options);
    command.final_callback([&options] {
        if (!options.bSequence && options.commands.empty())
            throw CLI::RequiredError("--sequence or --command");
    });
}
