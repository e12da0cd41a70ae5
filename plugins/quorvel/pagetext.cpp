#include "plugins/quorvel/pagetext.h"

#include "pattern/htmltotext.h"
#include "pattern/pattern.h"
#include "text/typeset.h"

#include <QCoreApplication>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace quorvel {

QString collectMatches(const QString &text, const QStringList &patterns, bool all,
                       qint32 minimumLength) {
    for (const QString &pattern : patterns) {
        QCoreApplication::processEvents();
        const auto matches = norModule::allMatches(text, pattern);
        if (!matches)
            return {};
        if (matches->isEmpty())
            continue;
        const int value = norModule::placeholderIndex(pattern, 0);
        if (value < 0)
            return {};
        const qsizetype last = all ? matches->size() - 1 : 0;
        const QString separator = minimumLength != 0 ? u"\r\n"_s : u"\r\n<BR>"_s;
        QString result;
        for (qsizetype j = 0; j <= last; ++j) {
            QString block = matches->at(j).subMatch(value);
            pluginHtmlToText(block);
            if (last > 0) {
                if (block.size() > minimumLength)
                    result += separator + block;
            } else if (!all || block.size() > minimumLength) {
                result = block;
            }
            QCoreApplication::processEvents();
        }
        return result;
    }
    return {};
}

void pluginHtmlToText(QString &text) {
    text.replace(u'\u000E', u'\r');
    text.replace(u'\u000F', u'\r');
    norModule::htmlToText(text, Qt::CaseSensitive);
}

QString pluginCleanText(const QString &text, bool html) {
    QString result = typeset::cleanText(text, false);
    if (html) {
        pluginHtmlToText(result);
        static const QRegularExpression spaces(u" {2,}"_s);
        result.replace(spaces, u" "_s);
    }
    return result;
}

} // namespace quorvel
