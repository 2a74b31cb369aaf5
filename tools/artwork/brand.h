#ifndef NIMBORA_TOOLS_ARTWORK_BRAND_H
#define NIMBORA_TOOLS_ARTWORK_BRAND_H

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QPainter;

namespace brand {

// Main brand orange and the night-sky blues it sits on.
const QColor kOrange(246, 125, 19);
const QColor kOrangeLight(255, 178, 82);
const QColor kOrangeDark(214, 92, 6);
const QColor kNightTop(30, 54, 110);
const QColor kNightBottom(9, 17, 42);
const QColor kNightDeep(6, 11, 28);
const QColor kTextLight(244, 247, 252);
const QColor kTextMuted(160, 178, 214);

enum class LogoTone { Colour, Muted };

// Loads DejaVu Sans (regular and bold) from the system font directory and
// returns the family name, or an empty string with `error` filled in.
QString loadFonts(QString* error);
QString fontFamily();

// Logo geometry in a 100 x 100 design space.
QPainterPath shieldPath();
QPainterPath cloudPath();
QPainterPath keyholePath();

// Paints the shield-and-cloud logo scaled into `box` (kept square).
void drawLogo(QPainter& p, const QRectF& box, LogoTone tone = LogoTone::Colour);

// Blurred copy of the image's alpha channel tinted with `colour`; used for
// soft drop shadows and glows. `radius` is in pixels.
QImage blurredShadow(const QImage& source, int radius, const QColor& colour);

// Bold "Nimbora" wordmark, optionally followed by a lighter orange "VPN".
// `baseline` is the left end of the text baseline; returns the width used.
qreal drawWordmark(QPainter& p, const QPointF& baseline, qreal pixelSize, bool withTag);
qreal wordmarkWidth(qreal pixelSize, bool withTag);

} // namespace brand

#endif
