#pragma once
// kestrelon-cli's peak memory against a site whose small gzip pages inflate a thousandfold: what
// fetching ahead holds must stay bounded in bytes, not in pages.

#include <QString>

namespace bench {

// A book whose chapters are 64 KB on the wire and 64 MiB inflated, fetched one page at a time
// and eight at a time. Prints the peak memory of each; false when eight at a time holds more
// than the bound on pages waiting for their turn, and one page decoded ahead, beyond one at a
// time.
bool benchInflatingPages(const QString &cli, const QString &workDir);

} // namespace bench
