#pragma once
// What the tray control asks of the desktop's notification area: add, modify and delete one icon
// with its tooltip, and a callback carrying the mouse message of an action on the icon.

#include <QIcon>
#include <QString>

#include <functional>

class TrayPlatform {
public:
    enum class Request { Add, Modify, Delete };

    // The notification record: the 16 x 16 icon, and the tip when hasTip is set.
    struct Record {
        QIcon icon;
        QString tip;
        bool hasTip = false;
    };

    // Mouse messages as the notification area reports them.
    static constexpr int kMouseMove = 512;
    static constexpr int kLeftDown = 513;
    static constexpr int kLeftUp = 514;
    static constexpr int kLeftDoubleClick = 515;
    static constexpr int kRightDown = 516;
    static constexpr int kRightUp = 517;
    static constexpr int kRightDoubleClick = 518;

    virtual ~TrayPlatform() = default;

    // A Delete request's record is empty.
    virtual void notifyIcon(Request request, const Record &record) = 0;
    // Whether the desktop has a notification area at all.
    virtual bool available() const = 0;

    void setCallback(std::function<void(int message)> callback) {
        m_callback = std::move(callback);
    }

protected:
    void report(int message) const {
        if (m_callback)
            m_callback(message);
    }

private:
    std::function<void(int message)> m_callback;
};
