#pragma once
// How a job talks to its site: how many requests at once, how often a failed one is tried again,
// the pause between two requests, and whether responses are kept for a rerun. Everything is off
// unless the user turns it on, from the front end or in the site's section of the settings file.

#include <QString>

struct JobInputs;

struct FetchPolicy {
    int parallel = 1;    // requests in flight at once
    int retries = 0;     // further tries of a request after a failure that may pass
    int delayMs = 0;     // least time between the starts of two requests to one host
    bool resume = false; // keep whole responses, and use what an earlier run kept

    // Whether the job does anything but one plain request after another.
    bool active() const { return parallel > 1 || retries > 0 || delayMs > 0 || resume; }
};

namespace pipeline {

// The ranges the options and the site's keys are held to.
inline constexpr int kMaxParallel = 32;
inline constexpr int kMaxRetries = 20;
inline constexpr int kMaxDelayMs = 600000;

// The job's policy: each option the front end set, else the site's key of the same meaning
// ("parallel", "retries", "delay" in milliseconds, "resume"; read without being written back),
// else off. A key that is not a number in range is ignored; "resume" is on for any value but
// "" and "0".
FetchPolicy fetchPolicy(const JobInputs &inputs, const QString &host);

// Whether the cookie of the contents page at contentsUrl goes with a request for url: only to the
// contents page's own host and the hosts below it, never to another site a page links to.
bool cookieGoesTo(const QString &contentsUrl, const QString &url);

} // namespace pipeline
