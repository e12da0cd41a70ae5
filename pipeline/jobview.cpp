#include "pipeline/jobview.h"

#include <QLocale>

#include <cmath>

using namespace Qt::StringLiterals;

namespace pipeline {

QString speedStatus(double bytesPerSecond) {
    const double speed = std::nearbyint(bytesPerSecond / 1024.0 * 100) / 100;
    return u"传输速度："_s + QString::number(speed, 'f', QLocale::FloatingPointShortest) +
           u" KB/秒"_s;
}

QStringList reportLines(const JobReport &report) {
    QStringList lines;
    for (const auto &[name, url] : report.chaptersWithoutText)
        lines.append(u"没有正文的章节：%1 %2"_s.arg(name, url));
    if (report.unencodable > 0) {
        const QString encoding = report.encoding.toLower();
        const QString shown = encoding == u"big5"_s      ? u"Big5"_s
                              : encoding == u"unicode"_s ? u"UTF-16"_s
                                                         : encoding.toUpper();
        lines.append(u"%1 个字符无法用 %2 表示"_s.arg(report.unencodable).arg(shown));
    }
    return lines;
}

} // namespace pipeline
