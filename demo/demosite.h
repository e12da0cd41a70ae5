#pragma once
// The demo book's web site on a cpp-httplib server: the contents page at /book/1/, its chapter
// pages, follow-on pages and separate text documents, every page GBK-encoded and gzip-compressed,
// and every page but the contents page refused to visitors without the cookie it sets. The serial
// grows on request: "?chapters=N" on the contents page publishes the first N chapters from then on
// (all of them at first), so an update has new chapters to find. Its search page at /search?q=
// takes the title in GBK and lists the book when the title holds what was asked for.

#include "demo/demobook.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <QSet>

#include <atomic>
#include <memory>
#include <mutex>

namespace httplib {
class Server;
}

// The folder the book is served at, and the cookie the site insists on.
namespace demo {

inline constexpr char kDemoBookFolder[] = "/book/1/";
inline constexpr char kDemoCookie[] = "kestrelon_demo=reader";
inline constexpr char kDemoSearchPath[] = "/search";

class DemoSite {
public:
    explicit DemoSite(const DemoBook &book);

    // Adds the site's routes to server; the site must outlive the server's use of them.
    void addRoutes(httplib::Server &server) const;

    // Every page's path, and the bytes it is served as (GBK, then gzip).
    const QHash<QString, QByteArray> &pages() const { return m_pages; }

    // The chapters the contents page lists from now on, from 1 to all of them.
    void publish(int chapters);
    // The chapter's pages as chapter has them from now on: a site that replaces what it posted.
    void revise(int index, const DemoChapter &chapter);
    // The published chapters the contents page leaves out from now on: a site that takes a
    // chapter down.
    void withdraw(const QSet<int> &chapters);

private:
    // The search page's answer to query.
    QByteArray searchPage(const QString &query) const;
    // The contents page listing the first published chapters but the withdrawn ones.
    QByteArray contentsPage() const;
    // Every page of chapter c, compressed as served, into m_pages.
    void addChapterPages(int c);

    DemoBook m_book;
    QHash<QString, QByteArray> m_pages;
    QSet<int> m_withdrawn;
    std::shared_ptr<std::atomic<int>> m_published;
    // Guards m_book, m_pages and m_withdrawn once the server's threads read them.
    std::shared_ptr<std::mutex> m_lock = std::make_shared<std::mutex>();
};

// body compressed as one gzip member, as the site serves its pages.
QByteArray gzipCompressed(const QByteArray &body);

// The demo site's fixed address for `make demo`.
inline constexpr int kDemoPort = 8917;

// The settings file that makes Kestrelon read the demo site at host (such as "127.0.0.1:8917"),
// and the demo forum at "localhost" with host's port, made from the template in the repository:
// GBK text with CR LF line ends, ready to be written.
QByteArray demoSiteSettings(const QString &host);

} // namespace demo
