// kestrelon-cli: downloads a serialised book from a terminal, with the same pipeline as the
// window.

#include "cli/checkreport.h"
#include "cli/librarycommands.h"
#include "cli/rulecheck.h"
#include "cli/searchcommand.h"
#include "cli/terminaltext.h"
#include "cli/terminalview.h"
#include "cli/updatecheck.h"
#include "library/booklibrary.h"
#include "library/librarypath.h"
#include "pipeline/bootstrap.h"
#include "pipeline/fetchpolicy.h"
#include "pipeline/pipeline.h"
#include "pipeline/updatesession.h"
#include "settings/globaloptions.h"
#include "settings/inimodule.h"
#include "settings/sitekeys.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <limits>

#include <unistd.h>

using namespace Qt::StringLiterals;
using terminaltext::printLine;

namespace {

constexpr int kExitStopped = 2;
constexpr int kExitNoRules = 3;
constexpr int kExitChaptersWithoutText = 4;
constexpr int kExitNoResults = 5;
constexpr int kExitUsage = 64;

const char kDescription[] =
    "Downloads the serialised book whose contents page is CONTENTS_URL and writes it as one\n"
    "text file (or, with --format epub, an EPUB book) named after its title. The site must have\n"
    "rules in the settings file.\n"
    "\n"
    "Status messages are printed as the window shows them (\"取书进度：下载成功！\" and the "
    "rest);\n"
    "on a terminal a progress bar shows the chapter count and the transfer speed. Ctrl-C works\n"
    "as the stop button: the page on its way is given up, the job ends with\n"
    "\"取书进度：用户中断！\" and no file is written; a second Ctrl-C ends the program at once.\n"
    "After the result line come the chapters in which the rules found no text, by name and\n"
    "address, and the number of characters the encoding lacks (written as \"?\").\n"
    "\n"
    "Exit status: 0 book written, 1 download failed, 2 stopped, 3 site without rules\n"
    "(\"取书进度：例外站点！\"), 4 book written but chapters without text, 64 bad usage.\n"
    "\n"
    "--check-rules downloads no book and writes nothing: it fetches the contents page and one\n"
    "chapter as a job would and reports what every rule of the site's section matched, and the\n"
    "usual mistakes; its exit status is 0 when a book could be made from what it saw, else 1.\n"
    "\n"
    "The book library keeps every chapter an --update fetched, beside the settings file with its\n"
    "base name and \".sqlite\" (for the user's own settings file, in\n"
    "$XDG_DATA_HOME/kestrelon/library.sqlite). --update fetches the contents page, the chapters\n"
    "the library lacks and the last one it holds, and writes the book a full download would\n"
    "write with the same options; the library's own last build is replaced without asking.\n"
    "--library lists the books (with --json as JSON), --forget removes one from the library.\n"
    "--check-updates fetches only the contents page of every book in the library and prints\n"
    "how many new chapters each has (with --json as JSON), one request at a time to a site and\n"
    "sites side by side (each site's books in a process of their own); --update --all updates\n"
    "every book that has new chapters, one after another. --site HOST keeps either to the books\n"
    "of one site.\n"
    "A download without these options neither reads nor creates the library.\n"
    "\n"
    "--search TITLE (without CONTENTS_URL) searches every site whose section has\n"
    "searchUrl and tagSearch, at most 8 at once and one per host, each site\n"
    "within 20 seconds (its cookie step included), and prints the results as a\n"
    "numbered table (序号, 书名, 作者, 站点, 地址): the exact title first, then\n"
    "titles that begin with it, then those that contain it, then the rest. Sites\n"
    "that failed are named below the table.\n"
    "--json prints {\"query\", \"results\", \"failures\"} instead. --pick N downloads\n"
    "result N with the other options given (--update among them), as if its\n"
    "address had been given. Exit status: 0 results found, 5 none, 1 every site\n"
    "failed; with --pick, that of the download. --check-rules CONTENTS_URL\n"
    "--search TITLE also checks the site's search rules.";

// What the command line asks for.
enum class Command {
    Download,
    CheckRules,
    Update,
    UpdateAll,
    CheckUpdates,
    ListLibrary,
    Forget,
    Search,
};

struct Parsed {
    TerminalOptions options;
    Command command = Command::Download;
    bool checkRules = false;
    QString checkedChapter; // --chapter
    bool json = false;
    QString searchTitle;              // --search
    int pick = 0;                     // --pick; 0 for none
    updatecheck::CheckOptions checks; // for --check-updates and --update --all
};

// Qt and the browser engine report their own start-up details (no display, no sandbox as root);
// they are not the user's business unless KESTRELON_VERBOSE is set.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtFatalMsg || type == QtCriticalMsg ||
        qEnvironmentVariableIsSet("KESTRELON_VERBOSE"))
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int usageError(const QString &message) {
    std::fprintf(stderr, "kestrelon-cli: %s\nTry 'kestrelon-cli --help'.\n",
                 message.toLocal8Bit().constData());
    return kExitUsage;
}

// A whole number from least to most given to option, when it is given, into *value; false
// after printing what is wrong with it.
bool numberOption(const QCommandLineParser &parser, const QCommandLineOption &option, int least,
                  int most, std::optional<int> *value, int *exitCode) {
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int number = parser.value(option).toInt(&ok);
    if (!ok || number < least || number > most) {
        *exitCode =
            usageError(u"--%1 takes a whole number from %2 to %3"_s.arg(option.names().first())
                           .arg(least)
                           .arg(most));
        return false;
    }
    *value = number;
    return true;
}

// The command line's meaning; nullopt after printing what is wrong (or the help) with the exit
// status in *exitCode.
std::optional<Parsed> parse(const QStringList &arguments, int *exitCode) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addPositionalArgument(u"CONTENTS_URL"_s, u"Address of the book's contents page."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help."_s);
    const QCommandLineOption version(u"version"_s, u"Show the program's version."_s);
    const QCommandLineOption from(u"from"_s, u"First wanted chapter's address."_s, u"URL"_s);
    const QCommandLineOption to(u"to"_s, u"Last wanted chapter's address."_s, u"URL"_s);
    const QCommandLineOption encoding(u"encoding"_s,
                                      u"Encoding of the book file: gbk, utf-8, unicode or big5 "
                                      u"(default gbk)."_s,
                                      u"NAME"_s, globalOptions::bookEncodings().first());
    const QCommandLineOption deleteTitle(u"delete-title"_s,
                                         u"删除相同标题行: remove a chapter's title repeated on "
                                         u"its first line."_s);
    const QCommandLineOption smallChapters(u"small-chapters"_s,
                                           u"小章节识别: join parts of one chapter."_s);
    const QCommandLineOption browserText(u"browser-text"_s,
                                         u"转换模式: turn chapter HTML into text with the "
                                         u"hidden browser."_s);
    const QCommandLineOption out(u"out"_s, u"Bookshelf folder (default: the current folder)."_s,
                                 u"DIR"_s);
    const QCommandLineOption settings(u"settings"_s,
                                      u"Settings file (default: Kestrelon.ini beside the "
                                      u"program, or the user's own when the program's folder "
                                      u"is read-only)."_s,
                                      u"FILE"_s);
    const QCommandLineOption overwrite(u"overwrite"_s,
                                       u"Replace an existing book file without asking."_s);
    const QCommandLineOption keep(u"keep"_s, u"Keep an existing book file without asking (the "
                                             u"default when not on a terminal)."_s);
    parser.addOptions({help, version, from, to, encoding, deleteTitle, smallChapters, browserText,
                       out, settings, overwrite, keep});
    const QCommandLineOption format(u"format"_s, u"Book file format: txt or epub (default txt)."_s,
                                    u"NAME"_s, u"txt"_s);
    const QCommandLineOption checkRules(u"check-rules"_s,
                                        u"Check the site's rules on the contents page and one "
                                        u"chapter instead of downloading the book."_s);
    const QCommandLineOption chapter(u"chapter"_s,
                                     u"With --check-rules: the chapter to check (default: the "
                                     u"first wanted one)."_s,
                                     u"URL"_s);
    const QCommandLineOption json(u"json"_s, u"With --check-rules, --check-updates, --library or "
                                             u"--search: print the report as JSON."_s);
    parser.addOptions({format, checkRules, chapter, json});
    const QCommandLineOption update(u"update"_s,
                                    u"Update the book from the book library: fetch only the "
                                    u"chapters it lacks and the last one it holds."_s);
    const QCommandLineOption listLibrary(u"library"_s, u"List the books in the book library."_s);
    const QCommandLineOption forget(u"forget"_s,
                                    u"Remove the book of this contents page and its chapters "
                                    u"from the book library (the book file stays)."_s,
                                    u"CONTENTS_URL"_s);
    const QCommandLineOption all(u"all"_s, u"With --update: every book in the book library "
                                           u"that has new chapters, instead of CONTENTS_URL."_s);
    const QCommandLineOption checkUpdates(u"check-updates"_s,
                                          u"Fetch only the contents page of every book in the "
                                          u"book library and print its new chapters."_s);
    const QCommandLineOption site(u"site"_s,
                                  u"With --check-updates or --update --all: only the books of "
                                  u"this site (its section's name, such as www.example.com)."_s,
                                  u"HOST"_s);
    parser.addOptions({update, all, checkUpdates, listLibrary, forget, site});
    const QCommandLineOption searchTitle(u"search"_s,
                                         u"Search every site with search rules for the book "
                                         u"TITLE and list what they found (with --check-rules: "
                                         u"check the site's search rules too)."_s,
                                         u"TITLE"_s);
    const QCommandLineOption pick(u"pick"_s,
                                  u"With --search: download result N as if its address had been "
                                  u"given."_s,
                                  u"N"_s);
    parser.addOptions({searchTitle, pick});
    const QCommandLineOption proxy(u"proxy"_s,
                                   u"Proxy for every request, the hidden browser's too (default: "
                                   u"http_proxy, https_proxy, all_proxy and no_proxy from the "
                                   u"environment)."_s,
                                   u"URL"_s);
    parser.addOption(proxy);
    // The options that override a site's fetch keys are named after them.
    using SiteKey = siteKeys::Key;
    const QCommandLineOption parallel(siteKeys::name(SiteKey::Parallel),
                                      u"Requests in flight at once, 1 to 32 (default: the site's "
                                      u"\"parallel\" key, else 1)."_s,
                                      u"N"_s);
    const QCommandLineOption retries(siteKeys::name(SiteKey::Retries),
                                     u"Tries again after a refused, timed-out or cut connection, "
                                     u"HTTP 429 or 5xx, 0 to 20 (default: the site's \"retries\" "
                                     u"key, else 0)."_s,
                                     u"N"_s);
    const QCommandLineOption delay(siteKeys::name(SiteKey::Delay),
                                   u"Least pause between the starts of two requests to one "
                                   u"site, in milliseconds (default: the site's \"delay\" key, "
                                   u"else 0)."_s,
                                   u"MS"_s);
    const QCommandLineOption resume(siteKeys::name(SiteKey::Resume),
                                    u"Keep every page in the cache folder and take from it what "
                                    u"an earlier run of this book kept."_s);
    parser.addOptions({parallel, retries, delay, resume});

    if (!parser.parse(arguments)) {
        *exitCode = usageError(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        std::printf("kestrelon-cli %s\n", KESTRELON_VERSION);
        *exitCode = 0;
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        // There is no application object yet to name the program.
        const QString text = parser.helpText().replace(u"<executable_name>"_s, u"kestrelon-cli"_s);
        pipeline::chooseSettingsFile();
        const QString inUse =
            parser.isSet(settings) ? parser.value(settings) : iniModule::settingsFilePath();
        std::printf("%s\nSettings file in use: %s\n", text.toLocal8Bit().constData(),
                    inUse.toLocal8Bit().constData());
        *exitCode = 0;
        return std::nullopt;
    }
    const QStringList positional = parser.positionalArguments();
    const bool searching = parser.isSet(searchTitle);
    if (searching && parser.value(searchTitle).trimmed().isEmpty()) {
        *exitCode = usageError(u"--search needs a title"_s);
        return std::nullopt;
    }
    if (parser.isSet(pick) && (!searching || parser.isSet(checkRules) || parser.isSet(json))) {
        *exitCode = usageError(u"--pick goes with --search, without --check-rules or --json"_s);
        return std::nullopt;
    }
    if (searching &&
        (parser.isSet(listLibrary) || parser.isSet(forget) || parser.isSet(checkUpdates) ||
         parser.isSet(all) || (parser.isSet(update) && !parser.isSet(pick)))) {
        *exitCode = usageError(u"--search goes with --check-rules, or with --pick and the "
                               u"download options"_s);
        return std::nullopt;
    }
    const int commands = int(parser.isSet(checkRules)) + int(parser.isSet(update)) +
                         int(parser.isSet(checkUpdates)) + int(parser.isSet(listLibrary)) +
                         int(parser.isSet(forget));
    if (commands > 1) {
        *exitCode = usageError(u"--check-rules, --update, --check-updates, --library and "
                               u"--forget exclude each other"_s);
        return std::nullopt;
    }
    if (parser.isSet(site) && !parser.isSet(checkUpdates) && !parser.isSet(all)) {
        *exitCode = usageError(u"--site goes with --check-updates or --update --all"_s);
        return std::nullopt;
    }
    if (parser.isSet(all) && !parser.isSet(update)) {
        *exitCode = usageError(u"--all goes with --update"_s);
        return std::nullopt;
    }
    const bool libraryOnly = parser.isSet(listLibrary) || parser.isSet(forget) ||
                             parser.isSet(checkUpdates) || parser.isSet(all);
    if (libraryOnly && !positional.isEmpty()) {
        *exitCode = usageError(u"--library, --forget, --check-updates and --update --all take "
                               u"no CONTENTS_URL"_s);
        return std::nullopt;
    }
    // A search finds the address, except for the rule checker, which checks a site's search.
    const bool searchOnly = searching && !parser.isSet(checkRules);
    if (searchOnly && !positional.isEmpty()) {
        *exitCode = usageError(u"--search takes no CONTENTS_URL unless with --check-rules"_s);
        return std::nullopt;
    }
    if (!libraryOnly && !searchOnly && positional.size() != 1) {
        *exitCode = usageError(positional.isEmpty() ? u"missing CONTENTS_URL"_s
                                                    : u"more than one CONTENTS_URL"_s);
        return std::nullopt;
    }
    const QString name = parser.value(encoding).toLower();
    if (!globalOptions::bookEncodings().contains(name)) {
        *exitCode = usageError(u"unknown encoding '%1'"_s.arg(parser.value(encoding)));
        return std::nullopt;
    }
    const QString formatName = parser.value(format).toLower();
    if (formatName != u"txt"_s && formatName != u"epub"_s) {
        *exitCode = usageError(u"unknown format '%1'"_s.arg(parser.value(format)));
        return std::nullopt;
    }
    if (parser.isSet(chapter) && !parser.isSet(checkRules)) {
        *exitCode = usageError(u"--chapter goes with --check-rules"_s);
        return std::nullopt;
    }
    if (parser.isSet(json) && !parser.isSet(checkRules) && !parser.isSet(listLibrary) &&
        !parser.isSet(checkUpdates) && !searching) {
        *exitCode =
            usageError(u"--json goes with --check-rules, --check-updates, --library or --search"_s);
        return std::nullopt;
    }
    if (parser.isSet(overwrite) && parser.isSet(keep)) {
        *exitCode = usageError(u"--overwrite and --keep exclude each other"_s);
        return std::nullopt;
    }
    const QString folder = parser.isSet(out) ? parser.value(out) : QDir::currentPath();
    if (!QFileInfo(folder).isDir()) {
        *exitCode = usageError(u"no such folder '%1'"_s.arg(folder));
        return std::nullopt;
    }
    if (parser.isSet(settings) && !QFileInfo(parser.value(settings)).isFile()) {
        *exitCode = usageError(u"no such settings file '%1'"_s.arg(parser.value(settings)));
        return std::nullopt;
    }
    // The settings file, and one proxy for libcurl and the browser engine alike, settled before
    // either starts.
    const QString settingsFile =
        parser.isSet(settings) ? QFileInfo(parser.value(settings)).absoluteFilePath() : QString();
    // The checks and a search alone leave the settings file as they found it.
    const bool readOnly = parser.isSet(checkRules) || (searching && !parser.isSet(pick));
    const pipeline::BootstrapResult started =
        pipeline::bootstrap({settingsFile, parser.value(proxy), readOnly});
    if (!started.ok) {
        *exitCode = usageError(started.error);
        return std::nullopt;
    }

    Parsed parsed;
    TerminalOptions &options = parsed.options;
    JobInputs &inputs = options.inputs;
    if (!numberOption(parser, parallel, 1, pipeline::kMaxParallel, &inputs.parallel, exitCode) ||
        !numberOption(parser, retries, 0, pipeline::kMaxRetries, &inputs.retries, exitCode) ||
        !numberOption(parser, delay, 0, pipeline::kMaxDelayMs, &inputs.delayMs, exitCode))
        return std::nullopt;
    std::optional<int> picked;
    if (!numberOption(parser, pick, 1, std::numeric_limits<int>::max(), &picked, exitCode))
        return std::nullopt;
    parsed.pick = picked.value_or(0);
    parsed.searchTitle = parser.value(searchTitle).trimmed();
    if (parser.isSet(resume))
        inputs.resume = true;
    inputs.contentsUrl = libraryOnly ? parser.value(forget) : positional.value(0);
    inputs.firstChapterUrl = parser.value(from);
    inputs.lastChapterUrl = parser.value(to);
    inputs.encoding = name;
    inputs.deleteTitle = parser.isSet(deleteTitle);
    inputs.smallChapters = parser.isSet(smallChapters);
    inputs.browserText = parser.isSet(browserText);
    inputs.bookshelfFolder = iniModule::withTrailingSeparator(QDir(folder).absolutePath());
    inputs.format = formatName == u"epub"_s ? BookFormat::Epub : BookFormat::Text;
    parsed.checkRules = parser.isSet(checkRules);
    parsed.command = parser.isSet(checkRules)     ? Command::CheckRules
                     : parser.isSet(all)          ? Command::UpdateAll
                     : parser.isSet(update)       ? Command::Update
                     : parser.isSet(checkUpdates) ? Command::CheckUpdates
                     : parser.isSet(listLibrary)  ? Command::ListLibrary
                     : parser.isSet(forget)       ? Command::Forget
                     : searchOnly && !parsed.pick ? Command::Search
                                                  : Command::Download;
    parsed.checkedChapter = parser.value(chapter);
    parsed.json = parser.isSet(json);
    // Each host's check runs in a process of this program (named once the application object
    // is made), with the options that shape its requests and the range it counts new chapters
    // in, as a check in this process would.
    parsed.checks.site = parser.value(site);
    parsed.checks.processArguments = {u"--settings"_s, iniModule::settingsFilePath()};
    for (const QCommandLineOption *option : {&proxy, &retries, &delay, &from, &to}) {
        if (parser.isSet(*option))
            parsed.checks.processArguments +=
                {u"--"_s + option->names().first(), parser.value(*option)};
    }
    options.replace = parser.isSet(overwrite) ? ReplaceAnswer::Overwrite
                      : parser.isSet(keep)    ? ReplaceAnswer::Keep
                                              : ReplaceAnswer::Ask;
    return parsed;
}

// Ends the program once its command is done: a book is committed, a report printed, a library
// closed, and the browsers' profiles are off the record. What is left, taking the objects and
// the web engine down in order, costs a tenth of a second (in each process --check-updates
// starts, too) and changes nothing on disk.
[[noreturn]] void endProgram(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

int exitStatus(const Pipeline &pipeline, std::optional<EndState> ended) {
    if (!ended)
        return kExitNoRules;
    switch (*ended) {
    case EndState::Success:
        return pipeline.job().report.chaptersWithoutText.isEmpty() ? 0 : kExitChaptersWithoutText;
    case EndState::Failure:
        return 1;
    case EndState::Stopped:
        return kExitStopped;
    }
    return 1;
}

// --update: the job runs with the library as its chapter store; a library that cannot be opened
// or written ends it before any request, with the book file untouched.
int updateBook(const TerminalOptions &options) {
    const QString path = library::libraryPathFor(iniModule::settingsFilePath());
    library::BookLibrary shelf;
    QString error;
    if (!shelf.open(path, true, &error)) {
        printLine(error, stderr);
        return 1;
    }
    TerminalView view(options);
    TerminalView::catchInterrupt();
    Pipeline pipeline(view);
    UpdateSession session(shelf, view);
    session.readAhead(options.inputs.contentsUrl);
    const auto ended = pipeline.download(session);
    if (ended && !session.byChapters() && *ended == EndState::Success)
        printLine(u"插件站点的书不能按章节更新：已完整下载。"_s);
    else if (ended && *ended == EndState::Success)
        printLine(librarycommands::updateSummary(session));
    return exitStatus(pipeline, ended);
}

// --update --all: every book the check finds new chapters for, updated one after another, so
// that no site is asked for more than an update of one book asks. The first failure's status,
// after trying every book unless Ctrl-C stopped one.
int updateAll(TerminalOptions options, const updatecheck::CheckOptions &how) {
    const QString path = library::libraryPathFor(iniModule::settingsFilePath());
    QString error;
    const auto checks = updatecheck::checkBooks(path, options.inputs, how, &error);
    if (!checks) {
        printLine(error, stderr);
        return 1;
    }
    int status = 0;
    int updated = 0;
    for (const updatecheck::BookCheck &check : *checks) {
        if (!check.error.isEmpty()) {
            printLine(
                u"%1（%2）：检查失败：%3"_s.arg(check.book.title, check.book.host, check.error));
            status = status ? status : 1;
            continue;
        }
        if (check.newChapters == 0)
            continue;
        printLine(u"%1（%2）：%3 个新章节"_s.arg(check.book.title, check.book.host)
                      .arg(check.newChapters));
        std::fflush(stdout);
        options.inputs.contentsUrl = check.book.contentsUrl;
        const int bookStatus = updateBook(options);
        status = status ? status : bookStatus;
        ++updated;
        // Ctrl-C stops the whole run, not only the book being updated.
        if (bookStatus == kExitStopped)
            return status;
    }
    // Silence would leave the reader wondering whether anything was checked at all.
    if (checks->isEmpty())
        printLine(u"书库里没有书。"_s);
    else if (updated == 0 && status == 0)
        printLine(u"没有书有新章节（检查了 %1 本）。"_s.arg(checks->size()));
    return status;
}

// Runs the parsed command once the application object exists; its exit status.
int runCommand(const Parsed &parsed) {
    TerminalOptions options = parsed.options;
    updatecheck::CheckOptions checks = parsed.checks;
    checks.program = QCoreApplication::applicationFilePath();
    if (!parsed.searchTitle.isEmpty() && parsed.command != Command::CheckRules) {
        QString picked;
        const auto status =
            searchcommand::printSearch(parsed.searchTitle, parsed.json, parsed.pick, &picked);
        if (status != searchcommand::Status::Found)
            return status == searchcommand::Status::NoResults ? kExitNoResults : 1;
        if (parsed.command == Command::Search)
            return 0;
        // The picked book is downloaded as if its address had been given.
        printLine(u"\n下载第 %1 个结果：%2"_s.arg(parsed.pick).arg(picked));
        std::fflush(stdout);
        options.inputs.contentsUrl = picked;
    }

    switch (parsed.command) {
    case Command::CheckRules:
        return rulecheck::printReport(
            rulecheck::checkRules(options.inputs, parsed.checkedChapter, parsed.searchTitle),
            parsed.json);
    case Command::Search:
        return 0;
    case Command::Update:
        return updateBook(options);
    case Command::UpdateAll:
        return updateAll(parsed.options, checks);
    case Command::CheckUpdates:
        return updatecheck::printChecks(library::libraryPathFor(iniModule::settingsFilePath()),
                                        parsed.options.inputs, checks, parsed.json);
    case Command::ListLibrary:
        return librarycommands::listBooks(library::libraryPathFor(iniModule::settingsFilePath()),
                                          parsed.json);
    case Command::Forget:
        return librarycommands::forgetBook(library::libraryPathFor(iniModule::settingsFilePath()),
                                           parsed.options.inputs.contentsUrl);
    case Command::Download:
        break;
    }

    TerminalView view(options);
    TerminalView::catchInterrupt();
    Pipeline pipeline(view);
    // The pipeline is left standing: the program ends with the job.
    endProgram(exitStatus(pipeline, pipeline.download()));
}

} // namespace

int main(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    int exitCode = 0;
    const auto parsed = parse(arguments, &exitCode);
    if (!parsed)
        return exitCode;

    qInstallMessageHandler(&quietMessages);
    // A terminal program runs on servers too: without a display it draws nowhere.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The pages' console messages and the browser's start-up report are not the user's concern.
    QLoggingCategory::setFilterRules(u"qt.webenginecontext.info=false\njs=false"_s);
    QGuiApplication app(argc, argv);
    iniModule::prepareSettingsFile();

    endProgram(runCommand(*parsed));
}
