// Redraws the committed artwork from its SVG sources: PNG files for the logos, and for the window icon an ICO
// whose entries are PNG images (read by Qt's ICO plug-in and by Windows).
// Usage: luxora-render-artwork <assets folder>
#include <cstdio>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <QVector>
#include <QtEndian>

namespace {

QImage Render(const QString &svgPath, int width) {
    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid())
        return {};
    const QSize size = renderer.defaultSize();
    QImage image(width, width * size.height() / size.width(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    renderer.render(&painter);
    return image;
}

QByteArray Png(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void Append16(QByteArray &out, quint16 value) {
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

void Append32(QByteArray &out, quint32 value) {
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

// ICONDIR, one ICONDIRENTRY per size, then the PNG data of each entry in the same order.
QByteArray Ico(const QString &svgPath, const QVector<int> &sizes) {
    QVector<QByteArray> images;
    for (int size : sizes)
        images.append(Png(Render(svgPath, size)));

    QByteArray out;
    Append16(out, 0);
    Append16(out, 1);
    Append16(out, static_cast<quint16>(sizes.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(sizes.size());
    for (int i = 0; i < sizes.size(); ++i) {
        const char side = static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]); // 0 stands for 256
        out.append(side);
        out.append(side);
        out.append('\0'); // no palette
        out.append('\0');
        Append16(out, 1);  // colour planes
        Append16(out, 32); // bits per pixel
        Append32(out, static_cast<quint32>(images[i].size()));
        Append32(out, offset);
        offset += static_cast<quint32>(images[i].size());
    }
    for (const QByteArray &image : images)
        out.append(image);
    return out;
}

bool Write(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <assets folder>\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + "/";
    bool ok = Write(dir + "icon.ico", Ico(dir + "icon.svg", {16, 24, 32, 48, 64, 128, 256}));
    ok = Write(dir + "logo-color.png", Png(Render(dir + "logo-color.svg", 800))) && ok;
    ok = Write(dir + "logo-white.png", Png(Render(dir + "logo-white.svg", 800))) && ok;
    ok = Write(dir + "qt-logo.png", Png(Render(dir + "qt-logo.svg", 128))) && ok;
    return ok ? 0 : 1;
}
