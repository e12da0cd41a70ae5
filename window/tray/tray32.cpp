#include "window/tray/tray32.h"

#include "text/charset.h"

#include <QWidget>

namespace {

// The notification area keeps at most 63 bytes of tip in GBK; a longer tip is cut there.
QString cutTip(QString tip) {
    while (charset::narrowLength(tip) > 63)
        tip.chop(1);
    return tip;
}

} // namespace

Tray32::Tray32(QWidget *window, std::unique_ptr<TrayPlatform> platform, const Design &design)
    : QObject(window)
    , m_window(window)
    , m_platform(std::move(platform))
    , m_tip(design.tip)
    , m_icon(design.icon) {
    m_platform->setCallback([this](int message) { onMouseMessage(message); });
    setEnabled(design.enabled);
    m_inTaskBar = design.inTaskBar;
}

Tray32::~Tray32() {
    if (m_enabled)
        removeIcon();
}

bool Tray32::isIcon() const {
    return m_window && m_window->isMinimized();
}

void Tray32::setIcon(const QIcon &icon) {
    if (icon.isNull())
        return;
    m_icon = icon;
    m_modifyPending = true;
    setEnabled(m_enabled);
}

void Tray32::setTip(const QString &tip) {
    m_tip = tip;
    m_modifyPending = true;
    setEnabled(m_enabled);
}

void Tray32::setEnabled(bool enabled) {
    if (enabled)
        showIcon();
    else
        removeIcon();
    m_modifyPending = false;
    m_enabled = enabled;
}

void Tray32::setInTaskBar(bool inTaskBar) {
    m_inTaskBar = inTaskBar;
    if (m_enabled)
        applyTaskBar();
}

void Tray32::activate() {
    if (!m_window)
        return;
    m_window->raise();
    m_window->activateWindow();
}

void Tray32::showIcon() {
    TrayPlatform::Record record;
    record.icon = m_icon.isNull() ? QIcon() : QIcon(m_icon.pixmap(16, 16));
    record.hasTip = !m_tip.isEmpty();
    if (record.hasTip)
        record.tip = cutTip(m_tip);
    m_platform->notifyIcon(
        m_modifyPending ? TrayPlatform::Request::Modify : TrayPlatform::Request::Add, record);
}

void Tray32::removeIcon() {
    m_platform->notifyIcon(TrayPlatform::Request::Delete, {});
}

void Tray32::applyTaskBar() {
    if (!m_window)
        return;
    if (m_inTaskBar) {
        m_window->show();
        m_window->showNormal();
    } else {
        m_window->showMinimized();
        m_window->hide();
    }
}

void Tray32::onMouseMessage(int message) {
    switch (message) {
    case TrayPlatform::kMouseMove:
        emit MouseMove();
        break;
    case TrayPlatform::kLeftDown:
        emit MouseDown(1);
        break;
    case TrayPlatform::kLeftUp:
        emit MouseUp(1);
        break;
    case TrayPlatform::kLeftDoubleClick:
        emit DblClick(1);
        break;
    case TrayPlatform::kRightDown:
        emit MouseDown(2);
        break;
    case TrayPlatform::kRightUp:
        emit MouseUp(2);
        break;
    case TrayPlatform::kRightDoubleClick:
        emit DblClick(2);
        break;
    default:
        break;
    }
}
