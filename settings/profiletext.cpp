#include "settings/profiletext.h"

#include <QStringDecoder>
#include <QStringEncoder>

using namespace Qt::StringLiterals;

namespace iniModule {

namespace {

// The file is GBK text. GB18030 reads every GBK byte the same way and
// writes every character, so a rule holding a character outside GBK is not lost.
QString decodeLine(QByteArrayView bytes) {
    QStringDecoder decoder("GB18030", QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray encodeLine(const QString &text) {
    QStringEncoder encoder("GB18030", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

// A line without its line end.
QByteArrayView body(const QByteArray &line) {
    QByteArrayView view(line);
    if (view.endsWith('\n'))
        view.chop(1);
    if (view.endsWith('\r'))
        view.chop(1);
    return view;
}

QByteArrayView lineEnd(const QByteArray &line) {
    return QByteArrayView(line).sliced(body(line).size());
}

QString trimmedBlanks(QStringView text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && (text.at(first) == u' ' || text.at(first) == u'\t'))
        ++first;
    while (last > first && (text.at(last - 1) == u' ' || text.at(last - 1) == u'\t'))
        --last;
    return text.mid(first, last - first).toString();
}

bool hasLineEnd(const QByteArray &line) {
    return line.endsWith('\n') || line.endsWith('\r');
}

// The name of a section header line "[name]", or nullopt for any other line.
std::optional<QString> headerName(const QByteArray &line) {
    // Most lines are keys: look at the raw bytes before decoding anything. An editor that saved
    // the file as UTF-8 put its byte-order mark before the first header, which must still count.
    QByteArrayView raw = body(line).trimmed();
    if (raw.startsWith("\xEF\xBB\xBF"))
        raw = raw.sliced(3);
    if (!raw.startsWith('['))
        return std::nullopt;
    const QString text = trimmedBlanks(decodeLine(raw));
    if (!text.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = text.lastIndexOf(u']');
    if (close < 1)
        return std::nullopt;
    return trimmedBlanks(QStringView(text).mid(1, close - 1));
}

struct KeyLine {
    QString key;
    QString value;
};

std::optional<KeyLine> keyLine(const QByteArray &line) {
    const QString text = decodeLine(body(line));
    const qsizetype equals = text.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    return KeyLine{trimmedBlanks(QStringView(text).left(equals)),
                   trimmedBlanks(QStringView(text).mid(equals + 1))};
}

bool sameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isBlankLine(const QByteArray &line) {
    return trimmedBlanks(decodeLine(body(line))).isEmpty();
}

} // namespace

ProfileText::ProfileText(const QByteArray &content) {
    qsizetype start = 0;
    // A line ends at LF, CR LF or a CR alone (as old Mac editors wrote them); GBK has no CR or
    // LF inside a character.
    while (start < content.size()) {
        qsizetype end = start;
        while (end < content.size() && content.at(end) != '\n' && content.at(end) != '\r')
            ++end;
        if (end < content.size())
            ++end;
        if (end < content.size() && content.at(end - 1) == '\r' && content.at(end) == '\n')
            ++end;
        m_lines.append(content.mid(start, end - start));
        start = end;
    }
}

QByteArray ProfileText::content() const {
    return m_lines.join();
}

QStringList ProfileText::sections() const {
    QStringList names;
    for (const QByteArray &line : m_lines) {
        const auto name = headerName(line);
        if (name && !names.contains(*name, Qt::CaseInsensitive))
            names.append(*name);
    }
    return names;
}

qsizetype ProfileText::findSection(const QString &section) const {
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const auto name = headerName(m_lines.at(i));
        if (name && sameName(*name, section))
            return i;
    }
    return -1;
}

qsizetype ProfileText::sectionEnd(qsizetype header) const {
    qsizetype i = header + 1;
    while (i < m_lines.size() && !headerName(m_lines.at(i)))
        ++i;
    return i;
}

qsizetype ProfileText::findKey(qsizetype header, qsizetype end, const QString &key) const {
    for (qsizetype i = header + 1; i < end; ++i) {
        const auto line = keyLine(m_lines.at(i));
        if (line && sameName(line->key, key))
            return i;
    }
    return -1;
}

std::optional<QString> ProfileText::value(const QString &section, const QString &key) const {
    const qsizetype header = findSection(section);
    if (header < 0)
        return std::nullopt;
    const qsizetype index = findKey(header, sectionEnd(header), key);
    if (index < 0)
        return std::nullopt;
    QString value = keyLine(m_lines.at(index))->value;
    // The INI reader drops one pair of quotation marks around a whole value.
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

void ProfileText::setValue(const QString &section, const QString &key, const QString &value) {
    static const QByteArray crlf = "\r\n";
    const QByteArray newKeyLine = encodeLine(key + u'=' + value) + crlf;
    const qsizetype header = findSection(section);
    if (header < 0) {
        if (!m_lines.isEmpty() && !hasLineEnd(m_lines.last()))
            m_lines.last().append(crlf);
        m_lines.append(encodeLine(u'[' + section + u']') + crlf);
        m_lines.append(newKeyLine);
        return;
    }
    const qsizetype end = sectionEnd(header);
    const qsizetype index = findKey(header, end, key);
    if (index >= 0) {
        // The key keeps its spelling in the file and its line keeps its line end.
        QByteArray &line = m_lines[index];
        const QByteArray keyText = encodeLine(keyLine(line)->key);
        line = keyText + '=' + encodeLine(value) + lineEnd(line).toByteArray();
        return;
    }
    qsizetype last = end - 1;
    while (last > header && isBlankLine(m_lines.at(last)))
        --last;
    if (!hasLineEnd(m_lines.at(last)))
        m_lines[last].append(crlf);
    m_lines.insert(last + 1, newKeyLine);
}

bool ProfileText::removeKey(const QString &section, const QString &key) {
    const qsizetype header = findSection(section);
    if (header < 0)
        return false;
    const qsizetype index = findKey(header, sectionEnd(header), key);
    if (index < 0)
        return false;
    m_lines.removeAt(index);
    return true;
}

bool ProfileText::removeSection(const QString &section) {
    const qsizetype header = findSection(section);
    if (header < 0)
        return false;
    m_lines.remove(header, sectionEnd(header) - header);
    return true;
}

} // namespace iniModule
