#pragma once
// kestrelon-cli --check-updates and --update --all: every book of the library has its contents
// page fetched through a job of its own (the same requests as a download's: identity, proxy,
// cookie step, address guard) that ends there, and its chapter list is compared with the
// chapters the library holds.

#include "library/booklibrary.h"
#include "pipeline/jobview.h"

#include <QList>
#include <QString>

#include <optional>

namespace updatecheck {

// What the check found for one book.
struct BookCheck {
    library::BookRecord book;
    QString error; // why its contents page could not be read; "" when it was
    int newChapters = 0;
    QString firstNewName; // of the first chapter listed that the library lacks
    QString firstNewUrl;
};

// Checks every book of the library at libraryPath, the books of one host one after another and
// the hosts one after another; base gives the options of the jobs. A book whose site fails is
// reported as such and the others go on. nullopt with the reason in *error when the library
// cannot be read. Needs the application object, as a job's hidden browsers do.
std::optional<QList<BookCheck>> checkBooks(const QString &libraryPath, const JobInputs &base,
                                           QString *error);

// --check-updates: the checks as lines or as JSON. The exit status: 0 unless the library
// cannot be read.
int printChecks(const QString &libraryPath, const JobInputs &base, bool json);

} // namespace updatecheck
