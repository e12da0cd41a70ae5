// kestrelon-cli: downloads a serialised book from a terminal, with the same pipeline as the
// window.

#include "cli/terminalview.h"
#include "pipeline/pipeline.h"
#include "pipeline/webengine.h"
#include "settings/inimodule.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int kExitNoRules = 3;
constexpr int kExitUsage = 64;

const char kDescription[] =
    "Downloads the serialised book whose contents page is CONTENTS_URL and writes it as one\n"
    "text file named after its title. The site must have rules in the settings file.\n"
    "\n"
    "Status messages are printed as the window shows them (\"取书进度：下载成功！\" and the "
    "rest);\n"
    "on a terminal a progress bar shows the chapter count and the transfer speed. Ctrl-C works\n"
    "as the stop button: a page that is arriving is finished (one the site has not begun to\n"
    "send is given up), the job ends with\n"
    "\"取书进度：用户中断！\" and no file is written; a second Ctrl-C ends the program at once.\n"
    "\n"
    "Exit status: 0 book written, 1 download failed, 2 stopped, 3 site without rules\n"
    "(\"取书进度：例外站点！\"), 64 bad usage.";

struct Parsed {
    TerminalOptions options;
    QString settingsFile;
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

// The command line's meaning; nullopt after printing what is wrong (or the help) with the exit
// status in *exitCode.
std::optional<Parsed> parse(const QStringList &arguments, int *exitCode) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addPositionalArgument(u"CONTENTS_URL"_s, u"Address of the book's contents page."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help."_s);
    const QCommandLineOption from(u"from"_s, u"First wanted chapter's address."_s, u"URL"_s);
    const QCommandLineOption to(u"to"_s, u"Last wanted chapter's address."_s, u"URL"_s);
    const QCommandLineOption encoding(u"encoding"_s,
                                      u"Encoding of the book file: gbk, utf-8, unicode or big5 "
                                      u"(default gbk)."_s,
                                      u"NAME"_s, u"gbk"_s);
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
                                      u"program)."_s,
                                      u"FILE"_s);
    const QCommandLineOption overwrite(u"overwrite"_s,
                                       u"Replace an existing book file without asking."_s);
    const QCommandLineOption keep(u"keep"_s, u"Keep an existing book file without asking (the "
                                             u"default when not on a terminal)."_s);
    parser.addOptions({help, from, to, encoding, deleteTitle, smallChapters, browserText, out,
                       settings, overwrite, keep});

    if (!parser.parse(arguments)) {
        *exitCode = usageError(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        // There is no application object yet to name the program.
        const QString text = parser.helpText().replace(u"<executable_name>"_s, u"kestrelon-cli"_s);
        std::printf("%s", text.toLocal8Bit().constData());
        *exitCode = 0;
        return std::nullopt;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        *exitCode = usageError(positional.isEmpty() ? u"missing CONTENTS_URL"_s
                                                    : u"more than one CONTENTS_URL"_s);
        return std::nullopt;
    }
    const QString name = parser.value(encoding).toLower();
    if (!QStringList{u"gbk"_s, u"utf-8"_s, u"unicode"_s, u"big5"_s}.contains(name)) {
        *exitCode = usageError(u"unknown encoding '%1'"_s.arg(parser.value(encoding)));
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

    Parsed parsed;
    TerminalOptions &options = parsed.options;
    JobInputs &inputs = options.inputs;
    inputs.contentsUrl = positional.first();
    inputs.firstChapterUrl = parser.value(from);
    inputs.lastChapterUrl = parser.value(to);
    inputs.encoding = name;
    inputs.deleteTitle = parser.isSet(deleteTitle);
    inputs.smallChapters = parser.isSet(smallChapters);
    inputs.browserText = parser.isSet(browserText);
    inputs.bookshelfFolder = iniModule::withTrailingSeparator(QDir(folder).absolutePath());
    options.replace = parser.isSet(overwrite) ? ReplaceAnswer::Overwrite
                      : parser.isSet(keep)    ? ReplaceAnswer::Keep
                                              : ReplaceAnswer::Ask;
    if (parser.isSet(settings))
        parsed.settingsFile = QFileInfo(parser.value(settings)).absoluteFilePath();
    return parsed;
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
    pipeline::prepareWebEngine();
    QGuiApplication app(argc, argv);
    // The terminal front end shares the window's settings file.
    iniModule::setSettingsBaseName(u"Kestrelon"_s);
    iniModule::setSettingsFileOverride(parsed->settingsFile);

    TerminalView view(parsed->options);
    TerminalView::catchInterrupt();
    Pipeline pipeline(view);
    const auto ended = pipeline.download();
    if (!ended)
        return kExitNoRules;
    switch (*ended) {
    case EndState::Success:
        return 0;
    case EndState::Failure:
        return 1;
    case EndState::Stopped:
        return 2;
    }
    return 1;
}
