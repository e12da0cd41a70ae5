#pragma once
// The terminal's commands on the book library: listing its books, forgetting one, and the end
// line of an update.

#include <QString>

class UpdateSession;

namespace librarycommands {

// --library: every book with its title, author, site, chapters held, last update and book file
// (and whether that is still there), as lines or as JSON. The exit status.
int listBooks(const QString &libraryPath, bool json);

// --forget: removes the book of contentsUrl and its chapters from the library. The exit status.
int forgetBook(const QString &libraryPath, const QString &contentsUrl);

// The lines an update ends with: chapters fetched and chapters taken from the library, and the
// book file kept when the new build did not replace it.
QString updateSummary(const UpdateSession &session);

} // namespace librarycommands
