#include "ui/Icons.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

namespace zelto::ui {

namespace {

std::uint64_t parses = 0;

// Renders one SVG at whatever size and pixel ratio the icon is asked for,
// parsing it on first use and keeping each pixmap it rendered.
class SvgIconEngine : public QIconEngine {
  public:
    explicit SvgIconEngine(QByteArray svg) : svg_(std::move(svg)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, ratio));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const QSize pixels = size * scale;
        const Key key = (quint64(quint32(pixels.width())) << 33) | (quint64(quint32(pixels.height())) << 1) |
                        quint64(mode == QIcon::Disabled);
        if (const auto found = pixmaps_.constFind(key); found != pixmaps_.constEnd()) return *found;
        QPixmap pixmap(pixels);
        pixmap.fill(Qt::transparent);
        if (!pixels.isEmpty()) {
            QPainter painter(&pixmap);
            if (mode == QIcon::Disabled) painter.setOpacity(0.4);
            renderer().render(&painter, QRectF(QPointF(), QSizeF(pixels)));
        }
        pixmap.setDevicePixelRatio(scale);
        pixmaps_.insert(key, pixmap);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SvgIconEngine(svg_); }

  private:
    using Key = quint64;  // width and height in device pixels, disabled

    QSvgRenderer& renderer() {
        if (!renderer_) {
            renderer_ = std::make_unique<QSvgRenderer>(svg_);
            ++parses;
        }
        return *renderer_;
    }

    QByteArray svg_;
    std::unique_ptr<QSvgRenderer> renderer_;
    QHash<Key, QPixmap> pixmaps_;
};

QByteArray readResource(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

// The icons live until the process ends, never destroyed after the application object.
QIcon appIcon() {
    static const QIcon* icon =
        new QIcon(new SvgIconEngine(readResource(QStringLiteral(":/org.zelto.presets.svg"))));
    return *icon;
}

QIcon lineIcon(const QString& name, const QColor& color) {
    // A handful of names and the palettes' few text colours: kept for the process.
    static auto* icons = new QHash<QString, QIcon>;
    const QString key = name + QLatin1Char('/') + color.name(QColor::HexArgb);
    if (const auto found = icons->constFind(key); found != icons->constEnd()) return *found;
    QByteArray svg = readResource(QStringLiteral(":/icons/%1.svg").arg(name));
    svg.replace("#000000", color.name(QColor::HexRgb).toLatin1());
    return *icons->insert(key, QIcon(new SvgIconEngine(std::move(svg))));
}

std::uint64_t svgParses() {
    return parses;
}

}  // namespace zelto::ui
