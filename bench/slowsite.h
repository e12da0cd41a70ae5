#pragma once
// kestrelon-cli against a loopback site that answers every request after 60 ms, as a site across
// a real connection does.

#include <QString>

namespace bench {

// A 200-chapter book with one request at a time and with five, against the floors of round
// trips (the contents page, then the chapters one or five at a time). Prints the figures; false
// when a target is missed.
bool benchSlowSite(const QString &cli, const QString &workDir);

} // namespace bench
