#include "cli/terminaltext.h"

namespace terminaltext {

QString shown(QString text) {
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control && c != u'\n')
            c = u' ';
    }
    return text;
}

void printLine(const QString &line, FILE *stream) {
    std::fprintf(stream, "%s\n", shown(line).toLocal8Bit().constData());
}

} // namespace terminaltext
