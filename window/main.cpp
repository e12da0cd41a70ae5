// Kestrelon: the desktop program that downloads a serialised book into one text file.

#include "pipeline/bootstrap.h"
#include "window/appicon.h"
#include "window/frmmain.h"
#include "window/searchscheme.h"

#include <QApplication>
#include <QFont>
#include <QLineEdit>
#include <QMessageBox>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[]) {
    // The settings file beside the program, and one proxy, from the environment, for the
    // program's requests and its browsers alike.
    const pipeline::BootstrapResult started = pipeline::bootstrap();
    // The help page's search goes through a scheme of the program's own, which the web engine
    // must know before it starts.
    searchScheme::registerScheme();
    if (!started.ok) {
        QApplication app(argc, argv);
        QMessageBox::critical(nullptr, u"Kestrelon"_s, u"代理地址无效：%1"_s.arg(started.error));
        return 64;
    }
    QApplication app(argc, argv);
    app.setApplicationName(u"Kestrelon"_s);
    app.setWindowIcon(kestrelonIcon());
    // The window's face is "宋体"; on Linux the AR PL UMing faces are the Song faces at hand.
    for (const QString &song : {u"宋体"_s, u"SimSun"_s})
        QFont::insertSubstitutions(song, {u"AR PL UMing CN"_s, u"AR PL UMing TW"_s});

    frmMain window;
    // "Kestrelon URL" opens the window with that contents-page address filled in.
    const QStringList arguments = app.arguments();
    if (arguments.size() > 1)
        window.txtNum(0)->setText(arguments.at(1));
    window.show();
    return app.exec();
}
