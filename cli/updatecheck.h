#pragma once
// kestrelon-cli --check-updates and --update --all: every book of the library has its contents
// page fetched through a job of its own (the same requests as a download's: identity, proxy,
// cookie step, address guard) that ends there, and its chapter list is compared with the
// chapters the library holds.

#include "library/booklibrary.h"
#include "pipeline/jobview.h"

#include <QList>
#include <QString>
#include <QStringList>

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

// How the checks reach the sites. The job is synchronous, one to a program, so hosts are
// checked side by side by running this program once per host (--check-updates --json --site
// HOST) with the options the user gave.
struct CheckOptions {
    QString site;                 // only this host's books; "" for every book
    QStringList processArguments; // repeated to each host's process (settings, proxy, ...)
    QString program;              // this program; "" checks every host in this process
};

// Checks the books of the library at libraryPath: the books of one host one after another,
// hosts side by side (at most kHostsAtOnce); base gives the options of the jobs. A book whose
// site fails is reported as such and the others go on. nullopt with the reason in *error when
// the library cannot be read. Needs the application object, as a job's hidden browsers do.
inline constexpr int kHostsAtOnce = 4;
std::optional<QList<BookCheck>> checkBooks(const QString &libraryPath, const JobInputs &base,
                                           const CheckOptions &how, QString *error);

// --check-updates: the checks as lines or as JSON. The exit status: 0 unless the library
// cannot be read.
int printChecks(const QString &libraryPath, const JobInputs &base, const CheckOptions &how,
                bool json);

} // namespace updatecheck
