#include "window/progressbox.h"

#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace {

constexpr double kTwipsPerPixel = 15.0;

// The bar picture: a blue band with a light top edge, as the chapters and pages fill it.
class BarPicture : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        QLinearGradient band(0, 0, 0, height());
        band.setColorAt(0.0, QColor(0xb8, 0xd8, 0xf8));
        band.setColorAt(0.45, QColor(0x3a, 0x8a, 0xe0));
        band.setColorAt(1.0, QColor(0x1c, 0x5a, 0xb0));
        painter.fillRect(rect(), band);
    }
};

} // namespace

ProgressBox::ProgressBox(QWidget *parent)
    : QFrame(parent)
    , m_bar(new BarPicture(this)) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    m_bar->setObjectName(QStringLiteral("ProgressBar"));
    m_bar->setGeometry(1, 1, 0, 0);
}

void ProgressBox::setBarTwips(double twips) {
    const int width = std::isfinite(twips) ? int(qBound(0.0, twips / kTwipsPerPixel, 32767.0)) : 0;
    m_bar->setGeometry(1, 1, width, height() - 2);
}
