// kestrelon-demo-site: serves the demo book on 127.0.0.1 until interrupted, or writes the demo
// site's settings file where none exists yet.

#include "demo/demobook.h"
#include "demo/demoforum.h"
#include "demo/demosite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;
using namespace demo;

namespace {

int writeSettings(const QString &path, int port) {
    if (QFile::exists(path))
        return 0; // a user's settings are never replaced
    const QByteArray settings = demoSiteSettings(u"127.0.0.1:%1"_s.arg(port));
    QFile file(path);
    if (settings.isEmpty() || !file.open(QIODevice::WriteOnly) ||
        file.write(settings) != settings.size()) {
        std::fprintf(stderr, "%s\n", qPrintable(u"无法写入设置文件：%1"_s.arg(path)));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Serves Kestrelon's demo book on 127.0.0.1."_s);
    parser.addHelpOption();
    const QCommandLineOption portOption(u"port"_s, u"Port to listen on."_s, u"N"_s,
                                        QString::number(kDemoPort));
    const QCommandLineOption chaptersOption(u"chapters"_s, u"Chapters of the book."_s, u"N"_s,
                                            u"64"_s);
    const QCommandLineOption seedOption(u"seed"_s, u"Seed of the book's text."_s, u"N"_s, u"1"_s);
    const QCommandLineOption settingsOption(
        u"write-settings"_s, u"Write the demo site's settings to FILE if it does not exist."_s,
        u"FILE"_s);
    parser.addOptions({portOption, chaptersOption, seedOption, settingsOption});
    parser.process(app);

    bool ok = false;
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
        std::fprintf(stderr, "invalid --port\n");
        return 64;
    }
    if (parser.isSet(settingsOption))
        return writeSettings(parser.value(settingsOption), port);

    DemoBookOptions options;
    options.chapters = parser.value(chaptersOption).toInt();
    options.seed = parser.value(seedOption).toUInt();
    const DemoBook book = generateDemoBook(options);
    const DemoSite site(book);
    const DemoForum forum(book);

    // SIGINT and SIGTERM end the server from a thread of their own.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    // Enough workers for a client with many requests in flight and kept-alive connections, and a
    // deep enough backlog for a burst of new ones.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    int listening = -1;
    server.set_socket_options([&listening](socket_t socket) {
        httplib::default_socket_options(socket);
        listening = socket;
    });
    site.addRoutes(server);
    forum.addRoutes(server);
    if (!server.bind_to_port("127.0.0.1", port) || ::listen(listening, SOMAXCONN) != 0) {
        std::fprintf(stderr, "%s\n", qPrintable(u"无法监听端口 %1"_s.arg(port)));
        return 1;
    }
    std::thread stopper([&server, &stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    });
    std::printf("%s\n", qPrintable(u"演示书站：http://127.0.0.1:%1%2"_s.arg(port).arg(
                            QLatin1String(kDemoBookFolder))));
    std::printf("%s\n", qPrintable(u"演示论坛：http://localhost:%1%2"_s.arg(port).arg(
                            QLatin1String(kDemoThreadFolder))));
    std::fflush(stdout);
    server.listen_after_bind();
    stopper.join();
    return 0;
}
