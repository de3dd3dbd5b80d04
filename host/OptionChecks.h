// Checks of option values on the host's command line. Each fails with a
// message saying what was wrong, which the command line prefixes with the
// option's name.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

// A finite number, at least 0.
CLI::Validator nonNegativeNumber();
// A number above 0 that a float holds (not 0 once rounded to one).
CLI::Validator positiveFloat();
// A value `accepts` takes; `expected` describes such a value for the message.
CLI::Validator acceptedBy(std::function<bool(const std::string&)> accepts, const std::string& expected);
