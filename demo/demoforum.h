#pragma once
// The demo forum: a thread in which the demo book's author posts the book chapter by chapter,
// over several pages, between short replies of readers (and a few short notes of the author's
// own). It is the demo site for the Quorvel plug-in: a book that site rules cannot cut out, since
// every page mixes the author's text with other people's posts.

#include "demo/demobook.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace httplib {
class Server;
}

namespace demo {

// The folder the thread is served at: its first page, then 2.html, 3.html ...
inline constexpr char kDemoThreadFolder[] = "/thread/1/";

class DemoForum {
public:
    explicit DemoForum(const DemoBook &book, int chaptersPerPage = 4);

    // Adds the thread's routes to server; the forum must outlive the server's use of them.
    void addRoutes(httplib::Server &server) const;

    // Page p (from 0) of the thread, as HTML text, and how many pages there are.
    QString page(int p) const { return m_html.value(p); }
    int pageCount() const { return int(m_html.size()); }

private:
    QList<QString> m_html;
    QHash<QString, QByteArray> m_served; // path -> GBK, gzip-compressed
};

} // namespace demo
