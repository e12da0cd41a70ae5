#pragma once
// The text of one settings file with the edits the INI writer makes: sections and keys
// found without regard to letter case, a value replaced in place, a new key at the end of its
// section, a new section at the end of the file, and every other line kept byte for byte.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace iniModule {

class ProfileText {
public:
    explicit ProfileText(const QByteArray &content = {});

    // The value of key in section, blanks around it and one pair of enclosing quotation marks
    // removed; nullopt when the section or the key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // The names of the sections, in the file's order, each once (the first spelling).
    QStringList sections() const;

    void setValue(const QString &section, const QString &key, const QString &value);
    // Both return whether anything changed.
    bool removeKey(const QString &section, const QString &key);
    bool removeSection(const QString &section);

    QByteArray content() const;

private:
    qsizetype findSection(const QString &section) const;
    qsizetype sectionEnd(qsizetype header) const;
    qsizetype findKey(qsizetype header, qsizetype end, const QString &key) const;

    QList<QByteArray> m_lines; // each with the line end it had in the file
};

} // namespace iniModule
