#pragma once
// The tray control a window places on itself to live in the notification area: an icon with a
// tooltip there, the mouse actions on it as signals, and the window taken out of the taskbar and
// brought back.

#include "window/tray/trayplatform.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QWidget;

class Tray32 : public QObject {
    Q_OBJECT
public:
    // The state a window stores for its control: tip and icon taken as they are, then enabled
    // applied as the property does (so an enabled control shows its icon at once), then
    // inTaskBar stored without touching the window.
    struct Design {
        QString tip = QStringLiteral("Tallowmere");
        QIcon icon;
        bool enabled = true;
        bool inTaskBar = true;
    };

    // window is the parent window the control moves in and out of the taskbar.
    Tray32(QWidget *window, std::unique_ptr<TrayPlatform> platform, const Design &design);
    ~Tray32() override;

    // Whether the parent window is minimised.
    bool isIcon() const;

    QIcon icon() const { return m_icon; }
    // An empty icon is ignored. Otherwise the icon shown changes with it when one is showing.
    void setIcon(const QIcon &icon);

    QString tip() const { return m_tip; }
    void setTip(const QString &tip);

    // Enabled doubles as "the icon is showing": true adds (or modifies) the icon, false deletes
    // it, whether it was showing or not.
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Whether the parent window is in the taskbar; applied to the window only while the control
    // is enabled (restored and shown, or minimised and hidden), stored otherwise.
    bool inTaskBar() const { return m_inTaskBar; }
    void setInTaskBar(bool inTaskBar);

    // Brings the parent window to the foreground.
    void activate();

    // Whether the desktop has a notification area for the icon.
    bool trayAvailable() const { return m_platform->available(); }

signals:
    // Button: 1 the left mouse button, 2 the right one.
    void MouseMove();
    void DblClick(int button);
    void MouseDown(int button);
    void MouseUp(int button);

private:
    void showIcon();
    void removeIcon();
    void applyTaskBar();
    void onMouseMessage(int message);

    QPointer<QWidget> m_window;
    std::unique_ptr<TrayPlatform> m_platform;
    QString m_tip;
    QIcon m_icon;
    bool m_inTaskBar = true;
    bool m_modifyPending = false;
    bool m_enabled = true;
};
