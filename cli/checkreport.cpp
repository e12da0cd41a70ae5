#include "cli/checkreport.h"

#include "cli/terminaltext.h"
#include "settings/sitekeys.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace rulecheck {

namespace {

enum class Tone { Heading, Key, Quiet, Good, Bad };

class Writer {
public:
    explicit Writer(bool colour)
        : m_colour(colour) {}

    QString paint(const QString &text, Tone tone) const {
        if (!m_colour)
            return text;
        static const char *const codes[] = {"1", "36", "2", "32", "31"};
        return u"\x1b[%1m%2\x1b[0m"_s.arg(QLatin1String(codes[int(tone)]), text);
    }
    void line(const QString &text = QString()) { m_text += text + u'\n'; }
    void heading(const QString &text) {
        line();
        line(paint(text, Tone::Heading));
    }
    // An indented row with a key column.
    void row(const QString &key, const QString &text) {
        line(u"  "_s + paint(key.leftJustified(12), Tone::Key) + text);
    }
    QString text() const { return m_text; }

private:
    bool m_colour;
    QString m_text;
};

// The report as a terminal may show it: control characters in its strings (escape sequences
// among them, which a page's titles and names may carry) become spaces, so that what a site
// wrote cannot retitle, recolour or rewrite the terminal.
QJsonValue printable(const QJsonValue &value) {
    if (value.isString())
        return terminaltext::shown(value.toString()).replace(u'\n', u' ');
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue &item : value.toArray())
            array.append(printable(item));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            *it = printable(*it);
        return object;
    }
    return value;
}

QString plural(qint64 count, const QString &one, const QString &many) {
    return u"%1 %2"_s.arg(count).arg(count == 1 ? one : many);
}

QString chapterLine(const QJsonObject &chapter) {
    return u"%1  %2  %3"_s.arg(chapter[u"number"_s].toInt(), 5)
        .arg(chapter[u"name"_s].toString(), chapter[u"url"_s].toString());
}

void writePages(Writer &out, const QJsonObject &report) {
    out.heading(u"Pages"_s);
    for (const QJsonValue &value : report[u"pages"_s].toArray()) {
        const QJsonObject page = value.toObject();
        const QString charset = page[u"charset"_s].toString();
        out.row(page[u"kind"_s].toString(),
                u"%1 (%2)  %3  %4  %5 ms  %6"_s
                    .arg(charset.isEmpty() ? u"—"_s : charset,
                         page[u"charsetConfigured"_s].toBool() ? u"configured"_s : u"detected"_s,
                         page[u"gzip"_s].toBool() ? u"gzip"_s : u"plain"_s,
                         plural(page[u"bytes"_s].toInteger(), u"byte"_s, u"bytes"_s))
                    .arg(page[u"milliseconds"_s].toInteger())
                    .arg(page[u"url"_s].toString()));
    }
    out.row(u"cookie"_s,
            plural(report[u"cookieLength"_s].toInteger(), u"character"_s, u"characters"_s));
}

void writeRules(Writer &out, const QJsonObject &report) {
    out.heading(u"Rules"_s);
    for (const QJsonValue &value : report[u"rules"_s].toArray()) {
        const QJsonObject rule = value.toObject();
        const qsizetype alternatives = rule[u"alternatives"_s].toArray().size();
        const int matched = rule[u"matched"_s].toInt();
        QString summary = alternatives == 0 ? u"empty"_s
                          : matched < 0
                              ? out.paint(u"no alternative matched"_s, Tone::Bad)
                              : u"alternative %1 of %2"_s.arg(matched + 1).arg(alternatives);
        summary += u", %1, %2 ms, on the %3 page"_s
                       .arg(plural(rule[u"matches"_s].toInteger(), u"match"_s, u"matches"_s))
                       .arg(rule[u"milliseconds"_s].toDouble())
                       .arg(rule[u"page"_s].toString());
        out.row(rule[u"key"_s].toString(), summary);
        if (matched >= 0)
            out.row(QString(), out.paint(rule[u"matchedRule"_s].toString(), Tone::Quiet));
        if (!rule[u"value"_s].toString().isEmpty())
            out.row(QString(), u"→ "_s + rule[u"value"_s].toString());
    }
}

void writeBook(Writer &out, const QJsonObject &book) {
    out.heading(u"Book"_s);
    out.row(u"title"_s, book[u"title"_s].toString());
    out.row(u"author"_s, book[u"author"_s].toString());
    QStringList volumes;
    for (const QJsonValue &value : book[u"volumes"_s].toArray()) {
        const QJsonObject volume = value.toObject();
        const QString name = volume[u"name"_s].toString();
        volumes.append(u"%1 (%2)"_s.arg(name.isEmpty() ? u"before the first volume"_s : name)
                           .arg(volume[u"chapters"_s].toInt()));
    }
    out.row(u"volumes"_s, volumes.isEmpty() ? u"none"_s : volumes.join(u", "_s));
    const int count = book[u"chapterCount"_s].toInt();
    out.row(u"chapters"_s, QString::number(count));
    const QJsonArray first = book[u"firstChapters"_s].toArray();
    const QJsonArray last = book[u"lastChapters"_s].toArray();
    for (const QJsonValue &chapter : first)
        out.row(QString(), chapterLine(chapter.toObject()));
    if (first.size() + last.size() < count)
        out.row(QString(), u"    …"_s);
    for (const QJsonValue &chapter : last)
        out.row(QString(), chapterLine(chapter.toObject()));
    const QJsonObject range = book[u"range"_s].toObject();
    if (!range.isEmpty())
        out.row(u"wanted"_s, u"%1 %2 to %3 %4"_s.arg(range[u"first"_s][u"number"_s].toInt())
                                 .arg(range[u"first"_s][u"name"_s].toString())
                                 .arg(range[u"last"_s][u"number"_s].toInt())
                                 .arg(range[u"last"_s][u"name"_s].toString()));
}

void writeChapter(Writer &out, const QJsonObject &chapter) {
    out.heading(
        u"Chapter %1  %2"_s.arg(chapter[u"name"_s].toString(), chapter[u"url"_s].toString()));
    if (!chapter[u"textAddress"_s].toString().isEmpty())
        out.row(u"text from"_s, chapter[u"textAddress"_s].toString());
    const QJsonArray followed = chapter[u"followed"_s].toArray();
    out.row(siteKeys::name(siteKeys::Key::TagNext),
            followed.isEmpty()
                ? u"no follow-on page"_s
                : plural(followed.size(), u"follow-on page"_s, u"follow-on pages"_s));
    for (const QJsonValue &address : followed)
        out.row(QString(), address.toString());
    const QJsonArray removed = chapter[u"removed"_s].toArray();
    out.row(siteKeys::name(siteKeys::Key::TagDel),
            u"removed %1"_s.arg(plural(removed.size(), u"stretch"_s, u"stretches"_s)));
    for (const QJsonValue &stretch : removed)
        out.row(QString(), out.paint(stretch.toString(), Tone::Quiet));
    const QJsonArray lines = chapter[u"lines"_s].toArray();
    out.row(u"typeset"_s, u"the first %1 of %2 lines as the book has them:"_s.arg(lines.size())
                              .arg(chapter[u"lineCount"_s].toInt()));
    for (const QJsonValue &line : lines)
        out.line(u"    │"_s + line.toString());
}

void writeSearch(Writer &out, const QJsonObject &search) {
    out.heading(u"Search for "_s + search[u"title"_s].toString());
    if (!search.contains(u"address"_s)) {
        out.row(u"rules"_s, u"none"_s);
        return;
    }
    const QJsonValue form = search[u"form"_s];
    out.row(form.isNull() ? u"GET"_s : u"POST"_s, search[u"address"_s].toString());
    if (!form.isNull())
        out.row(u"form"_s, form.toString());
    out.row(u"charset"_s, search[u"charset"_s].toString().isEmpty()
                              ? u"utf-8 (none configured)"_s
                              : search[u"charset"_s].toString());
    out.row(u"status"_s,
            u"%1  %2"_s.arg(search[u"status"_s].toInteger()).arg(search[u"finalUrl"_s].toString()));
    if (!search.contains(u"rule"_s))
        return;
    out.row(siteKeys::name(siteKeys::Key::TagSearch),
            plural(search[u"matchCount"_s].toInteger(), u"match"_s, u"matches"_s));
    for (const QJsonValue &match : search[u"matches"_s].toArray()) {
        QStringList groups;
        int number = 0;
        for (const QJsonValue &group : match[u"groups"_s].toArray())
            groups.append(u"%1: %2"_s.arg(++number).arg(group.toString()));
        out.row(QString(), u"→ "_s + groups.join(u"  "_s));
    }
    for (const QJsonValue &value : search[u"results"_s].toArray()) {
        const QJsonObject result = value.toObject();
        out.row(u"result"_s,
                u"%1  %2  %3"_s.arg(result[u"title"_s].toString(), result[u"author"_s].toString(),
                                    result[u"contentsUrl"_s].toString()));
    }
    const QJsonObject first = search[u"firstResult"_s].toObject();
    if (!first.isEmpty())
        out.row(u"first"_s, u"%1  →  %2"_s.arg(first[u"url"_s].toString(),
                                               first[u"title"_s].toString().isEmpty()
                                                   ? out.paint(u"no tagTitle match"_s, Tone::Bad)
                                                   : first[u"title"_s].toString()));
}

} // namespace

QString reportText(const QJsonObject &checked, bool colour) {
    const QJsonObject report = printable(checked).toObject();
    Writer out(colour);
    out.line(out.paint(u"Rule check of "_s + report[u"contentsUrl"_s].toString(), Tone::Heading));
    out.row(u"section"_s, u"[%1] in %2"_s.arg(report[u"host"_s].toString(),
                                              report[u"settingsFile"_s].toString()));
    const QJsonObject switches = report[u"switches"_s].toObject();
    QStringList on;
    for (auto it = switches.begin(); it != switches.end(); ++it)
        on.append(u"%1 %2"_s.arg(it.key(), it.value().toBool() ? u"on"_s : u"off"_s));
    if (!on.isEmpty())
        out.row(u"switches"_s, on.join(u", "_s));
    writePages(out, report);
    writeRules(out, report);
    if (report.contains(u"book"_s))
        writeBook(out, report[u"book"_s].toObject());
    if (report.contains(u"chapter"_s))
        writeChapter(out, report[u"chapter"_s].toObject());
    if (report.contains(u"search"_s))
        writeSearch(out, report[u"search"_s].toObject());

    out.heading(u"Problems"_s);
    const QJsonArray problems = report[u"problems"_s].toArray();
    if (problems.isEmpty())
        out.line(u"  none"_s);
    for (const QJsonValue &value : problems) {
        const QJsonObject problem = value.toObject();
        const QString rule = problem[u"rule"_s].toString();
        out.line(out.paint(u"  ! "_s, Tone::Bad) + (rule.isEmpty() ? QString() : rule + u": "_s) +
                 problem[u"message"_s].toString());
    }
    out.line();
    out.line(report[u"bookPossible"_s].toBool()
                 ? out.paint(u"A book can be made from what was seen."_s, Tone::Good)
                 : out.paint(u"No book can be made from what was seen."_s, Tone::Bad));
    return out.text();
}

int printReport(const QJsonObject &report, bool json) {
    const bool colour = ::isatty(STDOUT_FILENO) != 0 && !qEnvironmentVariableIsSet("NO_COLOR") &&
                        qgetenv("TERM") != "dumb";
    const QByteArray text = json ? QJsonDocument(report).toJson(QJsonDocument::Indented)
                                 : reportText(report, colour).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return report[u"bookPossible"_s].toBool() ? 0 : 1;
}

} // namespace rulecheck
