// Build tool: renders the program's SVG icon to a PNG of the given size, for the desktop's icon
// theme folders. Usage: kestrelon-render-icon SVG SIZE PNG
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool ok = false;
    const int size = arguments.size() == 4 ? arguments.at(2).toInt(&ok) : 0;
    if (!ok || size <= 0) {
        std::fprintf(stderr, "usage: kestrelon-render-icon SVG SIZE PNG\n");
        return 64;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid())
        return 1;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image.save(arguments.at(3), "PNG") ? 0 : 1;
}
