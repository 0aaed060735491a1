// Qt's SVG renderer for the plot, in a target of its own so that the rest builds without Qt.
#include "calibration/PlotPng.h"

#include <memory>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include "calibration/Plot.h"

namespace calibration {

std::string RenderPng(const std::string &svg) {
    // Fonts and painting need a GUI application; a command has none, and no display either.
    std::unique_ptr<QGuiApplication> application;
    static int argc = 1;
    static char name[] = "optivane";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    QSvgRenderer renderer(QByteArray::fromStdString(svg));
    if (!renderer.isValid())
        throw PlotError("the plot could not be drawn as PNG: Qt did not read its SVG");
    const QSize size = renderer.defaultSize() * 2;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        renderer.render(&painter);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        throw PlotError("the plot could not be drawn as PNG: Qt's PNG writer failed");
    return bytes.toStdString();
}

} // namespace calibration
