#pragma once
// One book's whole responses kept on disk between runs, so that a rerun after a failure or a
// stop fetches only what is missing: a file per address under $XDG_CACHE_HOME/kestrelon/ (by
// default ~/.cache/kestrelon/), in a folder per book, each file written whole or not at all.

#include "net/httpclient.h"

#include <QString>

#include <optional>

class ResponseCache {
public:
    // The cache of the book whose contents page is bookUrl; nothing is created until a store.
    explicit ResponseCache(const QString &bookUrl);

    const QString &folder() const { return m_folder; }

    // The response kept for url, as a result with its body and the head's Content-Encoding;
    // nullopt when there is none or it cannot be read.
    std::optional<HttpResult> load(const QString &url) const;

    // Keeps result's body and Content-Encoding for url. False when it could not be written; an
    // entry kept before stays as it was.
    bool store(const QString &url, const HttpResult &result);

    // Deletes the book's whole cache; false when something of it remains.
    bool remove();

private:
    QString pathOf(const QString &url) const;

    QString m_folder;
};
