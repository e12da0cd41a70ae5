#include "text/charset.h"

#include "text/charsetlabels.h"
#include "text/hugepages.h"

#include <algorithm>

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

using namespace Qt::StringLiterals;

namespace charset {

namespace {

bool isHigh(char b) {
    return (static_cast<unsigned char>(b) & 0x80) != 0;
}

bool isContinuation(char b) {
    return (static_cast<unsigned char>(b) & 0xC0) == 0x80;
}

char asciiLower(char b) {
    return (b >= 'A' && b <= 'Z') ? char(b - 'A' + 'a') : b;
}

// The first "charset=" in body, ignoring the case of ASCII letters; -1 when there is none.
qsizetype findDeclaration(const QByteArray &body) {
    static const QByteArray needle = "charset=";
    const qsizetype last = body.size() - needle.size();
    for (qsizetype p = 0; p <= last; ++p) {
        qsizetype k = 0;
        while (k < needle.size() && asciiLower(body.at(p + k)) == needle.at(k))
            ++k;
        if (k == needle.size())
            return p;
    }
    return -1;
}

bool isNameByte(char b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' ||
           b == '-';
}

// The name after a declaration: an optional quotation mark, then letters, digits, "_" and "-",
// looked for in the 20 bytes that follow "charset=".
QString declaredName(const QByteArray &body, qsizetype declaration) {
    const QByteArray after = body.mid(declaration + 8, 20);
    qsizetype i = 0;
    if (i < after.size() && (after.at(i) == '\'' || after.at(i) == '"'))
        ++i;
    const qsizetype start = i;
    while (i < after.size() && isNameByte(after.at(i)))
        ++i;
    return QString::fromLatin1(after.mid(start, i - start)).toLower();
}

// The byte tests walk the body from position `from` (0-based) to its end.
bool passesUtf8(const QByteArray &b, qsizetype from) {
    const qsizetype n = b.size();
    for (qsizetype j = from; j < n; ++j) {
        const auto c = static_cast<unsigned char>(b.at(j));
        if (c < 0x80)
            continue;
        if (c >= 0xC0 && c <= 0xDF) {
            if (j + 1 >= n || !isContinuation(b.at(j + 1)))
                return false;
            j += 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (j + 2 >= n || !isContinuation(b.at(j + 1)) || !isContinuation(b.at(j + 2)))
                return false;
            j += 2;
        } else {
            return false;
        }
    }
    return true;
}

bool passesGbk(const QByteArray &b, qsizetype from) {
    const qsizetype n = b.size();
    for (qsizetype j = from; j < n; ++j) {
        if (!isHigh(b.at(j)))
            continue;
        if (j + 1 >= n || !isHigh(b.at(j + 1)))
            return false;
        j += 1;
    }
    return true;
}

bool passesTwoByte(const QByteArray &b, qsizetype from) {
    // Counted from 1, an even start position fails at once.
    if (from % 2 == 1)
        return false;
    const qsizetype n = b.size();
    for (qsizetype j = from; j < n; ++j) {
        if (!isHigh(b.at(j)))
            continue;
        if (j + 1 >= n)
            return false;
        j += 1;
    }
    return true;
}

QString unknownNameReason(const QString &name) {
    return u"不支持的字符集：%1"_s.arg(name);
}

void setError(QString *error, const QString &reason) {
    if (error)
        *error = reason;
}

} // namespace

QString detectCharset(const QByteArray &body) {
    // A byte-order mark says what the bytes are, whatever the page declares: browsers read it so.
    if (body.startsWith("\xEF\xBB\xBF"))
        return u"utf-8"_s;
    if (body.startsWith("\xFE\xFF"))
        return u"utf-16be"_s;
    if (body.startsWith("\xFF\xFE"))
        return u"unicode"_s;
    if (body.contains('\0'))
        return u"unicode"_s;

    const qsizetype declaration = findDeclaration(body);
    if (declaration >= 0) {
        const QString name = declaredName(body, declaration);
        // A name no browser knows ("cp936") is no declaration to them either: they read the
        // bytes, where decoding by it would give an empty page.
        if (!name.isEmpty() && resolveLabel(name))
            return name;
    }

    qsizetype i = 0;
    bool binary = false;
    for (; i < body.size(); ++i) {
        const auto c = static_cast<unsigned char>(body.at(i));
        if (c >= 0x80)
            break;
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\t') {
            binary = true;
            break;
        }
    }
    if (i == body.size())
        return u"ascii"_s;
    if (!binary) {
        if (passesUtf8(body, i))
            return u"utf-8"_s;
        if (passesGbk(body, i))
            return u"gbk"_s;
    }
    return passesTwoByte(body, i) ? u"unicode"_s : u"unknown"_s;
}

QString decodeBytes(const QByteArray &body, const QString &name) {
    const auto codec = resolveLabel(name);
    if (!codec)
        return {};
    QStringDecoder decoder(codec->decoderName.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return {};
    return decoder.decode(body);
}

std::optional<QByteArray> encodeTextFile(const QString &text, const QString &name, QString *error) {
    const auto codec = resolveLabel(name);
    if (!codec) {
        setError(error, unknownNameReason(name));
        return std::nullopt;
    }
    QStringEncoder encoder(codec->encoderName.constData(), QStringConverter::Flag::Stateless);
    if (!encoder.isValid()) {
        setError(error, unknownNameReason(name));
        return std::nullopt;
    }
    // A book runs to tens of megabytes: it is encoded straight behind the mark, never copied.
    const QByteArray &mark = codec->byteOrderMark;
    QByteArray bytes(mark.size() + encoder.requiredSpace(text.size()), Qt::Uninitialized);
    memory::preferHugePages(bytes.constData(), bytes.size());
    std::copy(mark.cbegin(), mark.cend(), bytes.begin());
    const char *end = encoder.appendToBuffer(bytes.data() + mark.size(), text);
    bytes.truncate(end - bytes.constData());
    return bytes;
}

bool writeTextFile(const QString &text, const QString &name, const QString &path, QString *error) {
    const auto encoded = encodeTextFile(text, name, error);
    if (!encoded)
        return false;
    const QByteArray &bytes = *encoded;

    // Unbuffered, so a full disk shows in the write itself rather than in a flush whose error
    // the commit would not see; the old file is replaced only after every byte is written.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setError(error, u"无法写入文件 %1：%2"_s.arg(path, file.errorString()));
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        setError(error, u"无法写入文件 %1：%2"_s.arg(path, file.errorString()));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, u"无法写入文件 %1：%2"_s.arg(path, file.errorString()));
        return false;
    }
    return true;
}

qsizetype unencodableCount(const QString &text, const QString &name) {
    const auto encoded = encodeTextFile(text, name);
    return encoded ? unencodableCount(text, name, *encoded) : 0;
}

qsizetype unencodableCount(const QString &text, const QString &name, const QByteArray &encoded) {
    const auto codec = resolveLabel(name);
    // UTF-16 holds every character.
    if (!codec || codec->byteOrderMark.size() == 2)
        return 0;
    // In the byte-wide encodings offered (GBK, Big5, UTF-8) the byte of "?" never stands inside
    // a longer character, so every "?" that the text did not hold is a stand-in.
    return std::max<qsizetype>(0, encoded.count('?') - text.count(u'?'));
}

std::optional<QString> readTextFile(const QString &name, const QString &path, QString *error) {
    const auto codec = resolveLabel(name);
    if (!codec) {
        setError(error, unknownNameReason(name));
        return std::nullopt;
    }
    QStringDecoder decoder(codec->decoderName.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) {
        setError(error, unknownNameReason(name));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, u"无法读取文件 %1：%2"_s.arg(path, file.errorString()));
        return std::nullopt;
    }
    return decoder.decode(file.readAll());
}

qsizetype narrowLength(const QString &text) {
    // Addresses are nearly always plain ASCII: one byte a character.
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.size();
    QStringEncoder gbk("GBK", QStringConverter::Flag::Stateless);
    return QByteArray(gbk.encode(text)).size();
}

} // namespace charset
