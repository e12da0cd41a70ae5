#pragma once
// Inflates gzip-compressed response bodies.

#include <QByteArray>

namespace zipModule {

// The most a body may inflate to: a larger result fails rather than exhausting memory.
constexpr qsizetype kMaxInflated = qsizetype(256) << 20;

// Replaces body by its inflated bytes, all members of a multi-member body included, and returns
// true. A body that is not gzip, is cut short, or would inflate past kMaxInflated leaves body
// unchanged and returns false.
bool gunzipBody(QByteArray &body);

} // namespace zipModule
