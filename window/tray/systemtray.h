#pragma once
// The notification area of the running desktop, through QSystemTrayIcon.

#include "window/tray/trayplatform.h"

#include <QObject>
#include <QSystemTrayIcon>

class SystemTray : public QObject, public TrayPlatform {
    Q_OBJECT
public:
    explicit SystemTray(QObject *parent = nullptr);

    void notifyIcon(Request request, const Record &record) override;
    bool available() const override;

private:
    QSystemTrayIcon m_icon;
};
