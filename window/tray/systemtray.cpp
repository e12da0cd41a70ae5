#include "window/tray/systemtray.h"

SystemTray::SystemTray(QObject *parent)
    : QObject(parent)
    , m_icon(this) {
    // The desktop reports a click, not the press and release; each becomes both messages, as a
    // notification area that reports them one by one would send.
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    report(kLeftDown);
                    report(kLeftUp);
                    break;
                case QSystemTrayIcon::DoubleClick:
                    report(kLeftDoubleClick);
                    break;
                case QSystemTrayIcon::Context:
                    report(kRightDown);
                    report(kRightUp);
                    break;
                default:
                    break;
                }
            });
}

void SystemTray::notifyIcon(Request request, const Record &record) {
    switch (request) {
    case Request::Add:
    case Request::Modify:
        m_icon.setIcon(record.icon);
        m_icon.setToolTip(record.hasTip ? record.tip : QString());
        if (request == Request::Add)
            m_icon.show();
        break;
    case Request::Delete:
        m_icon.hide();
        break;
    }
}

bool SystemTray::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}
