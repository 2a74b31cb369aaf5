#include "tools/artwork/brand.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace brand {

namespace {

const char* const kFontDir = "/usr/share/fonts/truetype/dejavu/";

QString g_family;

QColor muted(const QColor& c)
{
    // Desaturate and dim, keeping a faint trace of the hue.
    const int grey = qGray(c.rgb());
    const qreal keep = 0.12;
    return QColor::fromRgbF(
        (c.redF() * keep + grey / 255.0 * (1 - keep)) * 0.92,
        (c.greenF() * keep + grey / 255.0 * (1 - keep)) * 0.92,
        (c.blueF() * keep + grey / 255.0 * (1 - keep)) * 0.96,
        c.alphaF());
}

QColor tone(const QColor& c, LogoTone t)
{
    return t == LogoTone::Colour ? c : muted(c);
}

QFont wordFont(qreal pixelSize, bool bold)
{
    QFont f(fontFamily());
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// One pass of a horizontal then vertical box blur on an 8-bit buffer.
void boxBlur(QVector<float>& a, int w, int h, int r)
{
    QVector<float> tmp(a.size());
    const float norm = 1.0f / float(2 * r + 1);
    for (int y = 0; y < h; ++y) {
        float sum = 0;
        for (int x = -r; x <= r; ++x)
            sum += a[y * w + std::clamp(x, 0, w - 1)];
        for (int x = 0; x < w; ++x) {
            tmp[y * w + x] = sum * norm;
            sum += a[y * w + std::min(x + r + 1, w - 1)];
            sum -= a[y * w + std::max(x - r, 0)];
        }
    }
    for (int x = 0; x < w; ++x) {
        float sum = 0;
        for (int y = -r; y <= r; ++y)
            sum += tmp[std::clamp(y, 0, h - 1) * w + x];
        for (int y = 0; y < h; ++y) {
            a[y * w + x] = sum * norm;
            sum += tmp[std::min(y + r + 1, h - 1) * w + x];
            sum -= tmp[std::max(y - r, 0) * w + x];
        }
    }
}

} // namespace

QString loadFonts(QString* error)
{
    QString family;
    for (const char* name : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"}) {
        const QString path = QString::fromLatin1(kFontDir) + QLatin1String(name);
        const int id = QFontDatabase::addApplicationFont(path);
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        if (families.isEmpty()) {
            if (error)
                *error = QStringLiteral("cannot load font %1 (is fonts-dejavu-core installed?)").arg(path);
            return QString();
        }
        family = families.first();
    }
    g_family = family;
    return family;
}

QString fontFamily()
{
    return g_family;
}

QPainterPath shieldPath()
{
    QPainterPath p;
    p.moveTo(50, 4);
    p.cubicTo(62, 11.5, 76, 14.5, 90, 14.5);
    p.quadTo(93, 14.5, 93, 17.5);
    p.lineTo(93, 46);
    p.cubicTo(93, 71, 76, 87, 50, 97);
    p.cubicTo(24, 87, 7, 71, 7, 46);
    p.lineTo(7, 17.5);
    p.quadTo(7, 14.5, 10, 14.5);
    p.cubicTo(24, 14.5, 38, 11.5, 50, 4);
    p.closeSubpath();
    return p;
}

QPainterPath cloudPath()
{
    QPainterPath base;
    base.addRoundedRect(QRectF(20, 50, 60, 22), 11, 11);
    QPainterPath c1;
    c1.addEllipse(QPointF(36, 52), 13, 13);
    QPainterPath c2;
    c2.addEllipse(QPointF(53.5, 44), 18, 18);
    QPainterPath c3;
    c3.addEllipse(QPointF(69, 55), 11.5, 11.5);
    QPainterPath cloud = base.united(c1).united(c2).united(c3);
    return cloud.simplified();
}

QPainterPath keyholePath()
{
    QPainterPath hole;
    hole.addEllipse(QPointF(50, 51), 6.2, 6.2);
    QPainterPath stem;
    stem.moveTo(47.2, 53);
    stem.lineTo(52.8, 53);
    stem.lineTo(54.6, 66);
    stem.quadTo(54.8, 67.5, 53.3, 67.5);
    stem.lineTo(46.7, 67.5);
    stem.quadTo(45.2, 67.5, 45.4, 66);
    stem.closeSubpath();
    return hole.united(stem).simplified();
}

void drawLogo(QPainter& p, const QRectF& box, LogoTone t)
{
    const qreal side = qMin(box.width(), box.height());
    const QRectF sq(box.center().x() - side / 2, box.center().y() - side / 2, side, side);

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(sq.topLeft());
    p.scale(side / 100.0, side / 100.0);

    const QPainterPath shield = shieldPath();

    // Shield body: night-sky gradient with a faint glow behind the cloud.
    QLinearGradient body(50, 4, 50, 97);
    body.setColorAt(0, tone(QColor(44, 78, 150), t));
    body.setColorAt(0.55, tone(QColor(20, 38, 84), t));
    body.setColorAt(1, tone(QColor(9, 18, 44), t));
    p.fillPath(shield, body);

    QRadialGradient glow(50, 56, 40);
    glow.setColorAt(0, tone(QColor(246, 125, 19, 70), t));
    glow.setColorAt(1, QColor(246, 125, 19, 0));
    p.fillPath(shield, glow);

    // Gloss across the upper half.
    QPainterPath gloss;
    gloss.addEllipse(QRectF(-30, -62, 160, 108));
    QLinearGradient glossGrad(50, 4, 50, 46);
    glossGrad.setColorAt(0, QColor(255, 255, 255, 46));
    glossGrad.setColorAt(1, QColor(255, 255, 255, 4));
    p.fillPath(shield.intersected(gloss), glossGrad);

    // Rim: bright steel on top fading into the body at the tip.
    QLinearGradient rim(50, 4, 50, 97);
    rim.setColorAt(0, tone(QColor(150, 182, 236), t));
    rim.setColorAt(0.5, tone(QColor(70, 104, 176), t));
    rim.setColorAt(1, tone(QColor(30, 50, 100), t));
    p.setPen(QPen(QBrush(rim), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    // Stroke slightly inset so the rim stays inside the design box.
    p.save();
    p.translate(50, 50.5);
    p.scale(0.965, 0.965);
    p.translate(-50, -50.5);
    p.drawPath(shield);
    p.restore();

    // Cloud with a keyhole punched through it.
    const QPainterPath cloud = cloudPath().subtracted(keyholePath());

    p.save();
    p.translate(0, 2.2);
    p.fillPath(cloud, QColor(0, 0, 0, 70));
    p.restore();

    QLinearGradient cloudGrad(50, 26, 50, 72);
    cloudGrad.setColorAt(0, tone(kOrangeLight, t));
    cloudGrad.setColorAt(0.45, tone(kOrange, t));
    cloudGrad.setColorAt(1, tone(kOrangeDark, t));
    p.fillPath(cloud, cloudGrad);

    // Soft highlight on the cloud's crown.
    QPainterPath crown;
    crown.addEllipse(QRectF(18, 20, 70, 34));
    QLinearGradient crownGrad(50, 26, 50, 52);
    crownGrad.setColorAt(0, QColor(255, 255, 255, 90));
    crownGrad.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillPath(cloud.intersected(crown), crownGrad);

    // Keyhole interior: darker than the shield so it reads as a cut.
    QLinearGradient holeGrad(50, 44, 50, 68);
    holeGrad.setColorAt(0, tone(QColor(5, 10, 26), t));
    holeGrad.setColorAt(1, tone(QColor(18, 32, 70), t));
    p.fillPath(keyholePath(), holeGrad);

    p.setPen(QPen(tone(QColor(255, 214, 160, 150), t), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(cloud);

    p.restore();
}

QImage blurredShadow(const QImage& source, int radius, const QColor& colour)
{
    const QImage src = source.convertToFormat(QImage::Format_ARGB32);
    const int w = src.width();
    const int h = src.height();
    QVector<float> a(w * h);
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < w; ++x)
            a[y * w + x] = float(qAlpha(line[x]));
    }
    // Three box passes approximate a Gaussian.
    const int r = qMax(1, radius / 2);
    for (int i = 0; i < 3; ++i)
        boxBlur(a, w, h, r);

    QImage out(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int alpha = qBound(0, int(a[y * w + x] * colour.alphaF() + 0.5f), 255);
            line[x] = qRgba(colour.red(), colour.green(), colour.blue(), alpha);
        }
    }
    return out;
}

qreal wordmarkWidth(qreal pixelSize, bool withTag)
{
    qreal w = QFontMetricsF(wordFont(pixelSize, true)).horizontalAdvance(QStringLiteral("Nimbora"));
    if (withTag) {
        w += pixelSize * 0.22;
        w += QFontMetricsF(wordFont(pixelSize * 0.5, true)).horizontalAdvance(QStringLiteral("VPN"));
    }
    return w;
}

qreal drawWordmark(QPainter& p, const QPointF& baseline, qreal pixelSize, bool withTag)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QFont bold = wordFont(pixelSize, true);
    QPainterPath word;
    word.addText(baseline, bold, QStringLiteral("Nimbora"));

    // A one-pixel dark drop keeps the light text crisp on any blue.
    p.save();
    p.translate(0, qMax(1.0, pixelSize / 28.0));
    p.fillPath(word, QColor(0, 0, 0, 90));
    p.restore();

    const QRectF wb = word.boundingRect();
    QLinearGradient fill(0, wb.top(), 0, wb.bottom());
    fill.setColorAt(0, QColor(255, 255, 255));
    fill.setColorAt(1, QColor(214, 224, 242));
    p.fillPath(word, fill);

    qreal width = QFontMetricsF(bold).horizontalAdvance(QStringLiteral("Nimbora"));
    if (withTag) {
        const QFont tagFont = wordFont(pixelSize * 0.5, true);
        const qreal x = baseline.x() + width + pixelSize * 0.22;
        QPainterPath tag;
        tag.addText(QPointF(x, baseline.y()), tagFont, QStringLiteral("VPN"));
        p.save();
        p.translate(0, qMax(1.0, pixelSize / 28.0));
        p.fillPath(tag, QColor(0, 0, 0, 90));
        p.restore();
        p.fillPath(tag, kOrange);
        width = x - baseline.x() + QFontMetricsF(tagFont).horizontalAdvance(QStringLiteral("VPN"));
    }
    p.restore();
    return width;
}

} // namespace brand
