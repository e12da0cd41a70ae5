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

} // namespace pipeline
