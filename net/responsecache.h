#pragma once
// One book's whole responses kept on disk between runs, so that a rerun after a failure or a
// stop fetches only what is missing: a file per address under $XDG_CACHE_HOME/kestrelon/ (by
// default ~/.cache/kestrelon/), in a folder per book, each file written whole or not at all.
// The pages may be private (a cookie fetched them), so folders are the user's alone (0700) and
// so are the files (0600). Every entry carries its length and a SHA-256 of what it holds: an
// entry cut short or damaged on disk is deleted and counts as missing, so its page is fetched
// again instead of failing the book on every rerun.

#include "net/httpclient.h"

#include <QDateTime>
#include <QString>

#include <optional>

class ResponseCache {
public:
    // A book cache untouched for this long belongs to a book given up on; see removeStale.
    static constexpr int kMaxAgeDays = 30;

    // The cache of the book whose contents page is bookUrl; nothing is created until a store.
    // The first cache made in a process removes the stale caches of other books first.
    explicit ResponseCache(const QString &bookUrl);

    const QString &folder() const { return m_folder; }

    // The response kept for url, as a result with its body and the head's Content-Encoding;
    // nullopt when there is none or it cannot be read. An entry whose length or checksum does
    // not match what it holds is deleted, and nullopt too.
    std::optional<HttpResult> load(const QString &url) const;

    // Keeps result's body and Content-Encoding for url. False when it could not be written; an
    // entry kept before stays as it was.
    bool store(const QString &url, const HttpResult &result);

    // Deletes the book's whole cache; false when something of it remains.
    bool remove();

    // The folder that holds every book's cache.
    static QString rootFolder();

    // Deletes every book cache under rootFolder() last modified more than kMaxAgeDays before
    // now (a stored entry modifies its book's folder). Only folders named as this class names
    // them are looked at, and links are never followed. Returns how many were deleted.
    static int removeStale(const QDateTime &now);

private:
    QString pathOf(const QString &url) const;

    QString m_folder;
};
