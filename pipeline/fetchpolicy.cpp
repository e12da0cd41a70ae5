#include "pipeline/fetchpolicy.h"

#include "pipeline/jobview.h"
#include "settings/sitekeys.h"

#include <QUrl>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace pipeline {

namespace {

std::optional<int> siteNumber(const QString &host, siteKeys::Key key, int least, int most) {
    bool ok = false;
    const int value = siteKeys::read(host, key).trimmed().toInt(&ok);
    if (!ok || value < least || value > most)
        return std::nullopt;
    return value;
}

} // namespace

FetchPolicy fetchPolicy(const JobInputs &inputs, const QString &host) {
    FetchPolicy policy;
    policy.parallel = inputs.parallel.value_or(
        siteNumber(host, siteKeys::Key::Parallel, 1, kMaxParallel).value_or(policy.parallel));
    policy.retries = inputs.retries.value_or(
        siteNumber(host, siteKeys::Key::Retries, 0, kMaxRetries).value_or(policy.retries));
    policy.delayMs = inputs.delayMs.value_or(
        siteNumber(host, siteKeys::Key::Delay, 0, kMaxDelayMs).value_or(policy.delayMs));
    // A front end's own values are held to the same ranges.
    policy.parallel = std::clamp(policy.parallel, 1, kMaxParallel);
    policy.retries = std::clamp(policy.retries, 0, kMaxRetries);
    policy.delayMs = std::clamp(policy.delayMs, 0, kMaxDelayMs);
    if (inputs.resume) {
        policy.resume = *inputs.resume;
    } else {
        const QString resume = siteKeys::read(host, siteKeys::Key::Resume).trimmed();
        policy.resume = !resume.isEmpty() && resume != u"0"_s;
    }
    return policy;
}

bool cookieGoesTo(const QString &contentsUrl, const QString &url) {
    // QUrl gives host names in lower case; a final dot names the same host.
    const auto hostOf = [](const QString &address) {
        QString host = QUrl(address).host();
        if (host.endsWith(u'.'))
            host.chop(1);
        return host;
    };
    const QString home = hostOf(contentsUrl);
    const QString host = hostOf(url);
    return !home.isEmpty() && (host == home || (host.endsWith(home) &&
                                                host.at(host.size() - home.size() - 1) == u'.'));
}

} // namespace pipeline
