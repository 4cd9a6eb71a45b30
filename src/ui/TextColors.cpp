#include "ui/TextColors.h"

#include <algorithm>
#include <cmath>

namespace zelto::ui {

namespace {

// A little above the 4.5:1 of level AA, so that rounding to 8-bit channels
// never falls short.
constexpr double kTargetContrast = 4.7;

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& color) {
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

QColor mixed(const QColor& from, const QColor& to, double amount) {
    auto channel = [&](double a, double b) { return a + (b - a) * amount; };
    return QColor::fromRgbF(static_cast<float>(channel(from.redF(), to.redF())),
                            static_cast<float>(channel(from.greenF(), to.greenF())),
                            static_cast<float>(channel(from.blueF(), to.blueF())));
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor composited(const QColor& color, const QColor& background) {
    QColor opaque = color;
    opaque.setAlphaF(1.0f);
    return mixed(background, opaque, color.alphaF());
}

QColor subduedText(const QColor& text, const QColor& background) {
    const QColor solid = composited(text, background);
    // The faintest fade that still reads: a few steps from 40 % towards none.
    for (double fade = 0.4; fade > 0.0; fade -= 0.02) {
        const QColor candidate = mixed(solid, background, fade);
        if (contrastRatio(candidate, background) >= kTargetContrast) return candidate;
    }
    return solid;
}

QColor groupHeadingBand(const QPalette& palette) {
    QColor band = palette.color(QPalette::Text);
    band.setAlphaF(0.06f);
    return composited(band, palette.color(QPalette::Base));
}

QColor secondaryViewText(const QPalette& palette, const QColor& background) {
    return subduedText(palette.color(QPalette::Text), background);
}

QColor subduedWindowText(const QPalette& palette) {
    return subduedText(palette.color(QPalette::WindowText), palette.color(QPalette::Window));
}

}  // namespace zelto::ui
