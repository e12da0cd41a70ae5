#pragma once
// What the fuzz targets share: the input as bytes, as text, or split into a rule and a page.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzz {

inline QByteArray bytes(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline QString text(const uint8_t *data, size_t size) {
    return QString::fromUtf8(bytes(data, size));
}

// The first line is the rule, the rest the page.
inline std::pair<QString, QString> ruleAndPage(const uint8_t *data, size_t size) {
    const QString all = text(data, size);
    const qsizetype end = all.indexOf(u'\n');
    if (end < 0)
        return {all, QString()};
    return {all.left(end), all.mid(end + 1)};
}

} // namespace fuzz
