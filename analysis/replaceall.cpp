#include "replaceall.h"

namespace norModule {

void replaceAll(QString &text, QStringView from, QStringView to, Qt::CaseSensitivity cs) {
    if (from.isEmpty())
        return;
    qsizetype hit = QStringView(text).indexOf(from, 0, cs);
    if (hit < 0)
        return;
    QString out;
    out.reserve(text.size() + (to.size() > from.size() ? text.size() / 8 : 0));
    qsizetype copied = 0;
    while (hit >= 0) {
        out += QStringView(text).mid(copied, hit - copied);
        out += to;
        copied = hit + from.size();
        hit = QStringView(text).indexOf(from, copied, cs);
    }
    out += QStringView(text).mid(copied);
    text = std::move(out);
}

} // namespace norModule
