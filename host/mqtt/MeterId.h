// The meter's name in its topics, qm9000/<meter id>/..., and in the Home
// Assistant objects made for it.
#pragma once

#include <string>

// `text` fit for a topic level and an object id: letters, digits, '-', '_'
// and '.' kept, anything else (the wildcards '+' and '#', '/', spaces) as
// '_'; empty for an empty text.
std::string topicSafeId(const std::string& text);

// --mqtt-id when given, else the module table's serial number, else the
// host's name, else "qm9000"; made topic-safe.
std::string chooseMeterId(const std::string& given, const std::string& serialNumber);
