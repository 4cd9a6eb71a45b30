#include "ui/Icons.h"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

namespace zelto::ui {

namespace {

// Renders one SVG at whatever size and pixel ratio the icon is asked for.
class SvgIconEngine : public QIconEngine {
  public:
    explicit SvgIconEngine(QByteArray svg) : svg_(std::move(svg)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QSvgRenderer renderer(svg_);
        painter->save();
        if (mode == QIcon::Disabled) painter->setOpacity(0.4);
        renderer.render(painter, rect);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(), pixmap.size()), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SvgIconEngine(svg_); }

  private:
    QByteArray svg_;
};

QByteArray readResource(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QIcon appIcon() {
    static const QIcon icon(new SvgIconEngine(readResource(QStringLiteral(":/org.zelto.presets.svg"))));
    return icon;
}

QIcon lineIcon(const QString& name, const QColor& color) {
    QByteArray svg = readResource(QStringLiteral(":/icons/%1.svg").arg(name));
    svg.replace("#000000", color.name(QColor::HexRgb).toLatin1());
    return QIcon(new SvgIconEngine(std::move(svg)));
}

}  // namespace zelto::ui
