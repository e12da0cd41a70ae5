// The window as a user meets it: real widgets clicked under the offscreen platform against a
// loopback site, the help page's site list and search, and the tray control through its platform
// seam.

#include "browser/webengine.h"
#include "demo/demosite.h"
#include "settings/inimodule.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"
#include "window/frmmain.h"
#include "window/progressbox.h"
#include "window/searchscheme.h"
#include "window/sitelist.h"
#include "window/tray/tray32.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// The notification area as a list of the requests it received.
class RecordingTray : public TrayPlatform {
public:
    QList<Request> requests;
    QList<Record> records; // sent with them
    void notifyIcon(Request request, const Record &record) override {
        requests.append(request);
        records.append(record);
    }
    bool available() const override { return true; }
};

// Puts address in the contents box and clicks the download button; check, when given, runs every
// 20 ms while the job runs (the job lets timers fire).
void download(frmMain &window, const QString &address, const std::function<void()> &check = {}) {
    window.txtNum(0)->setText(address);
    QTimer timer;
    if (check)
        QObject::connect(&timer, &QTimer::timeout, check);
    timer.start(0); // at every turn of the event loop: a job on a loopback site is soon over
    QTest::mouseClick(window.btnCmd(1), Qt::LeftButton);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

public:
    static void initMain() {
        browser::prepareWebEngine();
        searchScheme::registerScheme();
    }
    // The desktop's "open" for files, which the settings file is opened through.
    Q_INVOKABLE void openFile(const QUrl &url) { m_opened.append(url); }

private slots:
    void initTestCase() {
        m_demo.addRoutes(m_site.server());
        // A book whose second chapter trickles in a byte at a time, never fast enough to end.
        support::serveBook(m_site, u"trickle"_s, u"慢书"_s, support::chapterTexts(3), [](int c) {
            return c == 2 ? support::Page{.body = QByteArray(100000, '<'), .trickleMs = 100}
                          : support::Page{};
        });
        // A search page whose results are all markup, and slow to come.
        m_site.serve(u"/hostile"_s,
                     {.body = "<td><a href=\"/x/?a=1&b='2'\">&lt;img src=x onerror=alert(1)&gt;"
                              "</a></td><td>&lt;script&gt;alert(2)&lt;/script&gt;</td>",
                      .delayMs = 500});
        // A book whose second chapter is answered with the site's own "come back later" page.
        support::serveBook(m_site, u"bare"_s, u"缺章"_s, support::chapterTexts(2), [](int c) {
            return support::Page{.body = c == 2 ? "<p>too many requests</p>" : QByteArray()};
        });
        QVERIFY(m_site.start());
        m_settings = m_dir.filePath(u"Kestrelon.ini"_s);
        iniModule::setSettingsFileOverride(m_settings);
        QDesktopServices::setUrlHandler(u"file"_s, this, "openFile");
    }

    void init() {
        writeSettings(u"[全局设置]\r\n书架路径=%1\r\n"_s.arg(m_shelf.path()));
        // Each test starts with an empty shelf: a book left there would bring up the replace
        // question.
        QVERIFY(QDir(m_shelf.path()).removeRecursively() && QDir().mkpath(m_shelf.path()));
    }

    // The options as written in the settings file fill the fields, and what the window shows is
    // saved when it closes: a second start, from a file that held only what the first one saved,
    // shows the same.
    void optionsSurviveARestart_data() {
        QTest::addColumn<QString>("stored"); // the encoding as written in the file
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QList<bool>>("ticked");
        // Between them, each box is read and saved ticked and unticked. A stored encoding is the
        // box's own whatever its case; one the box does not offer falls back to gbk.
        QTest::newRow("BIG5") << u"BIG5"_s << u"big5"_s << QList<bool>{true, false, true};
        QTest::newRow("ebcdic") << u"ebcdic"_s << u"gbk"_s << QList<bool>{false, true, false};
    }

    void optionsSurviveARestart() {
        QFETCH(QString, stored);
        QFETCH(QString, encoding);
        QFETCH(QList<bool>, ticked);
        const QString address = u"http://a/%1/"_s.arg(encoding);
        const QStringList fields{address, address + u"1.html"_s, address + u"9.html"_s};
        const QString shelf = m_dir.path() + u'/';
        const auto box = [&ticked](int i) { return QString::number(ticked.at(i)); };
        writeSettings(
            u"[全局设置]\r\n书架路径=%1\r\n编码模式=%2\r\n标题删除=%3\r\n章节识别=%4\r\n"
            u"格式转换=%5\r\n目录页面=%6\r\n起始页面=%7\r\n结束页面=%8\r\n"_s.arg(
                shelf, stored, box(0), box(1), box(2), fields.at(0), fields.at(1), fields.at(2)));
        QList<bool> shown = ticked;
        for (int start = 0; start < 2; ++start) {
            frmMain window;
            // The address is filled first: the saved range survives the address's change event.
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(window.txtNum(i)->text(), fields.at(i));
                QCOMPARE(window.checkBox(i)->isChecked(), shown.at(i));
            }
            QCOMPARE(window.cmbCode()->currentText(), start == 0 ? encoding : u"utf-8"_s);
            QCOMPARE(window.btnCmd(0)->toolTip(), shelf);
            // "目录" opens the file on a left click let go over it, not on a right one or a
            // press taken off it.
            m_opened.clear();
            QTest::mouseClick(window.label(0), Qt::RightButton);
            QTest::mousePress(window.label(0), Qt::LeftButton);
            QTest::mouseRelease(window.label(0), Qt::LeftButton, {}, QPoint(-4, -4));
            QTest::mouseClick(window.label(0), Qt::LeftButton);
            QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(m_settings)});
            // What the reader changes in the window is what the next start shows.
            for (int i = 0; i < 3; ++i) {
                shown[i] = !shown.at(i);
                QTest::mouseClick(window.checkBox(i), Qt::LeftButton);
            }
            window.cmbCode()->setCurrentText(u"utf-8"_s);
            writeSettings(QString());
            QVERIFY(window.close());
        }
    }

    void downloadMatchesTheTerminalThenAsksBeforeReplacing() {
        frmMain window;
        window.cmbCode()->setCurrentText(u"utf-8"_s);
        window.checkBox(0)->setChecked(true);
        bool unlockedSeen = false;
        bool speedSeen = false; // and so the check ran, which it does only while the job runs
        download(window, contents(), [&] {
            unlockedSeen |= window.btnCmd(0)->isEnabled() || window.btnCmd(2)->isEnabled() ||
                            window.frmBox()->isEnabled();
            speedSeen |= window.label(3)->text().startsWith(u"传输速度："_s);
        });
        QVERIFY(!unlockedSeen && speedSeen);
        QCOMPARE(window.label(3)->text(), u"取书进度：下载成功！"_s);
        QVERIFY(window.btnCmd(0)->isEnabled() && window.frmBox()->isEnabled());
        // The whole book bar is full; its picture may not exceed its box's drawable width by much.
        QVERIFY(window.barBox(0)->bar()->width() >= 290);
        QTRY_COMPARE_WITH_TIMEOUT(window.label(3)->text(), u"取书进度：准备就绪！"_s, 3000);

        const support::CliRun cli = support::runCli({u"--settings"_s, m_settings, u"--encoding"_s,
                                                     u"utf-8"_s, u"--delete-title"_s, contents()});
        QCOMPARE(cli.exitCode, 0);
        QCOMPARE(support::readBytes(bookPath()), cli.book());

        // The next download finds a book of its name: the reader is asked, and "no" keeps it.
        // (What "yes" does to the file is tested in tst_endtoend.)
        QVERIFY(support::writeBytes(bookPath(), "old book"));
        QString question;
        download(window, contents(), [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            question = box->windowTitle() + u"|"_s + box->text();
            box->button(QMessageBox::No)->click();
        });
        QCOMPARE(question, u"Kestrelon|文件已经存在,要替换吗？"_s);
        QCOMPARE(window.label(3)->text(), u"取书进度：下载成功！"_s);
        QCOMPARE(support::readBytes(bookPath()), QByteArray("old book"));
    }

    // A chapter without text is named in the status's tip; the next job starts without it, and
    // while it runs the window refuses to close and saves nothing. That job is stopped while a
    // chapter trickles in (a stop before the site answers is tst_endtoend's, the same job given up
    // by the view).
    void missingChapterThenCloseAndStopDuringAJob() {
        frmMain window;
        window.show();
        download(window, m_site.url(u"/bare/"_s));
        QCOMPARE(window.label(3)->text(), u"取书进度：下载成功！"_s);
        QCOMPARE(window.label(3)->toolTip(),
                 u"没有正文的章节：第2章 %1"_s.arg(m_site.url(u"/bare/2.html"_s)));
        // A press that starts no job takes that book's report away too.
        download(window, u"http://nosuch/"_s);
        QCOMPARE(window.label(3)->text() + window.label(3)->toolTip(), u"取书进度：例外站点！"_s);
        const QByteArray settingsBefore = support::readBytes(m_settings);
        int waited = 0;
        bool clicked = false;
        download(window, m_site.url(u"/trickle/"_s), [&] {
            // Half a second after chapter 2 was asked for, while it trickles in.
            if (!clicked && m_site.clientPaths().contains(u"/trickle/2.html"_s) && waited++ >= 25) {
                clicked = true;
                QVERIFY(!window.close() && window.isVisible());
                QVERIFY(window.btnCmd(1)->isEnabled()); // nor is the job asked to stop
                QTest::mouseClick(window.btnCmd(1), Qt::LeftButton);
                // The button stays "停止(&D)", disabled, until the job has ended.
                QVERIFY(!window.btnCmd(1)->isEnabled());
                QCOMPARE(window.btnCmd(1)->text(), u"停止(&D)"_s);
            }
        });
        QVERIFY(clicked);
        QCOMPARE(support::readBytes(m_settings), settingsBefore);
        QCOMPARE(window.label(3)->text(), u"取书进度：用户中断！"_s);
        QCOMPARE(window.label(3)->toolTip(), QString());
        QVERIFY(window.btnCmd(1)->isEnabled() &&
                !m_site.clientPaths().contains(u"/trickle/3.html"_s) &&
                !QFile::exists(m_shelf.filePath(u"慢书.txt"_s)));
    }

    void siteList_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("table"); // between the markers; "" when the page stays as it was

        const auto link = [](const QString &host, const QString &name) {
            return u"<a onmouseup='document.body.focus()' href='http://%1'>%2</a>"_s.arg(host,
                                                                                         name);
        };
        // The fourth site's host and name hold markup, and its name a "$1" that the page's
        // replacement must leave as it is.
        QTest::newRow("a full row, then one with two empty cells; markup is shown as text")
            << u"[全局设置]\r\n书架路径=/tmp/\r\n[a.com]\r\ntagName=甲\r\n[b.com]\r\ntagName=乙\r\n"
               u"[c.com]\r\ntagName=丙网址\r\n[x.com'><img src=x>]\r\n"
               u"tagName=<img src=x onerror=\"alert(1)\">&$1\r\n"_s
            << u"<tr><td align='left'>"_s + link(u"a.com"_s, u"甲"_s) +
                   u"</td><td align='center'>"_s + link(u"b.com"_s, u"乙"_s) +
                   u"</td><td align='right'>"_s + link(u"c.com"_s, u"丙网址"_s) +
                   u"</td></tr><tr><td align='left'>"_s +
                   link(u"x.com&#39;&gt;&lt;img src=x&gt;"_s,
                        u"&lt;img src=x onerror=&quot;alert(1)&quot;&gt;&amp;$1"_s) +
                   u"</td><td></td><td></td>"_s;
        QTest::newRow("tagName as a second key, or ending the file without a line break")
            << u"[a.com]\r\ntagTitle=x\r\ntagName=甲\r\n[全局设置]\r\n书架路径=/tmp/\r\n"
               u"[z.com]\r\ntagName=末"_s
            << QString();
    }

    void siteList() {
        QFETCH(QString, settings);
        QFETCH(QString, table);
        QTemporaryDir dir;
        const QString settingsPath = dir.filePath(u"s.ini"_s);
        const QString helpPath = dir.filePath(u"index.htm"_s);
        const QString page =
            u"<p>前</p>\r\n<!-- 站点列表开始 -->旧<!-- 站点列表结束 -->\r\n<p>后</p>"_s;
        QVERIFY(support::writeBytes(settingsPath, support::gbk(settings)) &&
                support::writeBytes(helpPath, support::gbk(page)));
        // A second start finds its own block and gives the same page.
        for (int start = 0; start < 2; ++start) {
            QVERIFY(siteList::buildSiteList(settingsPath, helpPath));
            QCOMPARE(QStringDecoder("GB18030").decode(support::readBytes(helpPath)),
                     table.isEmpty() ? page
                                     : QString(page).replace(u"旧"_s, u"<table width='100%'>"_s +
                                                                          table + u"</table>"_s));
        }
    }

    // The demo site is searched together with a site whose results are all markup, and slow to
    // come: the markup is shown as text, and a download waits for the search.
    void searchFromTheHelpPage() {
        const QString host = u"127.0.0.1:%1"_s.arg(m_site.port());
        writeSettings(u"[坏站]\r\ntagName=<b>坏站</b>\r\nsearchUrl=http://%1/hostile?q={key}\r\n"
                      u"tagSearch=<td><a href=\"(.*?)\">(.*?)</a></td><td>(.*?)</td>\r\n"
                      u"[全局设置]\r\n书架路径=%2\r\n"_s.arg(host, m_shelf.path()));
        frmMain window;
        auto *view = window.findChild<QWebEngineView *>();
        QSignalSpy loaded(view, &QWebEngineView::loadFinished);
        view->load(searchScheme::searchUrl(u"灯塔"_s));
        QTRY_COMPARE(window.label(3)->text(), u"取书进度：正在搜索……"_s);
        QTest::mouseClick(window.btnCmd(1), Qt::LeftButton);
        QCOMPARE(window.label(3)->text(), u"取书进度：正在搜索，搜索结束后才能下载！"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 30000);
        QString html;
        view->page()->toHtml([&html](const QString &page) { html = page; });
        QTRY_VERIFY(!html.isEmpty());
        // The demo book, its contents address in the link's tip.
        QVERIFY2(html.contains(u"title=\"%1\">%2</a>"_s.arg(contents(), m_book.title)),
                 qPrintable(html));
        QVERIFY2(
            html.contains(u"&lt;img src=x onerror=alert(1)&gt;</a><span class=\"by\"> "
                          u"&lt;script&gt;alert(2)&lt;/script&gt; · &lt;b&gt;坏站&lt;/b&gt;"_s),
            qPrintable(html));
        QVERIFY(!html.contains(u"<img"_s) && !html.contains(u"<script"_s) &&
                !html.contains(u"<b>"_s));

        // The markup's result is clicked on the page: the address is entered as typing enters it,
        // emptying the range (the address box's change event, which typing sends the same way).
        window.txtNum(1)->setText(u"http://a/1.html"_s);
        window.txtNum(2)->setText(u"http://a/9.html"_s);
        view->page()->runJavaScript(u"document.querySelector('a[title*=\"/x/\"]').click()"_s,
                                    QWebEngineScript::ApplicationWorld);
        QTRY_COMPARE(window.txtNum(0)->text(), u"http://%1/x/?a=1&b='2'"_s.arg(host));
        QVERIFY(window.txtNum(1)->text().isEmpty() && window.txtNum(2)->text().isEmpty());
    }

    void trayRequests() {
        using Request = TrayPlatform::Request;
        QWidget window;
        window.show();
        auto platform = std::make_unique<RecordingTray>();
        const auto &log = platform->requests;
        const auto &records = platform->records;
        Tray32::Design design;
        design.enabled = false;
        // A control stored disabled removes an icon it never showed, and does so again when it is
        // given a new icon (the requests are compared once all is done, below).
        Tray32 tray(&window, std::move(platform), design);
        tray.setIcon(QIcon(QPixmap(32, 32)));
        tray.setInTaskBar(false);
        QVERIFY(window.isVisible()); // disabled: only stored

        tray.setEnabled(true);
        QVERIFY(records.last().hasTip);
        QCOMPARE(records.last().tip, u"Tallowmere"_s);
        QCOMPARE(records.last().icon.actualSize(QSize(64, 64)), QSize(16, 16));
        tray.setTip(u"腹有诗书气自华"_s);
        QCOMPARE(records.last().tip, u"腹有诗书气自华"_s);
        tray.setTip(QString());
        QVERIFY(!records.last().hasTip);
        tray.setInTaskBar(false);
        QVERIFY(!window.isVisible());
        tray.setInTaskBar(true);
        QVERIFY(window.isVisible());
        // Showing the icon adds it, a new tip modifies it; the taskbar state sends no icon request.
        QCOMPARE(log, (QList<Request>{Request::Delete, Request::Delete, Request::Add,
                                      Request::Modify, Request::Modify}));
    }

private:
    // Writes the settings file: the demo site's section, then global (raw INI lines, CR LF).
    void writeSettings(const QString &global) {
        const QByteArray site = demo::demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()));
        QVERIFY(support::writeBytes(m_settings, site + support::gbk(global)));
    }
    QString contents() const { return m_site.url(QString::fromLatin1(demo::kDemoBookFolder)); }
    QString bookPath() const { return m_shelf.filePath(m_book.title + u".txt"_s); }

    support::LoopbackSite m_site;
    demo::DemoBook m_book = demo::generateDemoBook({.chapters = 6, .volumes = 2, .paragraphs = 4});
    demo::DemoSite m_demo{m_book};
    QTemporaryDir m_dir;
    QTemporaryDir m_shelf;
    QString m_settings;
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestWindow)
#include "tests/tst_window.moc"
