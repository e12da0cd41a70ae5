// A plug-in written from plugins/README.md alone, as a third party would, linking nothing but Qt.
// Its title is the first range box; its book is the last range box, the host and, for every page,
// its kind and the text of its <b> element.

#include <QObject>
#include <QRegularExpression>

#include <memory>

class Tally : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title)

public:
    QString title() const { return m_title; }

    Q_INVOKABLE void Initialize(QString settingsPath, QString host, QString first, QString last) {
        Q_UNUSED(settingsPath);
        m_title = first;
        m_book = last + u'|' + host + u'|';
    }

    Q_INVOKABLE QString infoFromWeb(QString *page, int kind) {
        static const QRegularExpression text(QStringLiteral("<b>(.*?)</b>"));
        static const QRegularExpression next(QStringLiteral("<a id=\"next\" href=\"(.*?)\">"));
        m_book += QString::number(kind) + u':' + text.match(*page).captured(1) + u' ';
        const QString address = next.match(*page).captured(1);
        if (address.isEmpty())
            *page = m_book;
        return address;
    }

private:
    QString m_title;
    QString m_book;
};

extern "C" {

Q_DECL_EXPORT int DllRegisterServer() {
    return 0;
}

Q_DECL_EXPORT int DllUnregisterServer() {
    return 0;
}

Q_DECL_EXPORT QObject *DllGetClassObject(const char *className) {
    return qstrcmp(className, "Tally.makeTxt") == 0 ? std::make_unique<Tally>().release() : nullptr;
}

// Never asks to be unloaded, which is always safe.
Q_DECL_EXPORT int DllCanUnloadNow() {
    return 1;
}

} // extern "C"

#include "tests/plugins/tally.moc"
