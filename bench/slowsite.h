#pragma once
// kestrelon-cli against a loopback site that answers every request after a while, as a site across
// a real connection does: alone against the floor of its round trips, and beside curl --parallel
// fetching the same pages.

#include <QString>

namespace bench {

// A 200-chapter book with one request at a time and with five, answered after 60 ms, against the
// floors of round trips (the contents page, then the chapters one or five at a time); and a
// 1,000-chapter book answered after 20 ms and after 60 ms, with 8 and 16 requests at once, against
// curl with as many. Prints the figures; false when a target is missed.
bool benchSlowSite(const QString &cli, const QString &workDir);

} // namespace bench
