#include "tools/artwork/pictures.h"

#include "tools/artwork/brand.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QtMath>

#include <cmath>

namespace {

using namespace brand;

QImage blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QFont uiFont(qreal pixelSize, bool bold, qreal letterSpacing = 0)
{
    QFont f(fontFamily());
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    if (letterSpacing != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return f;
}

// Logo on its own layer, so shadows can be derived from its silhouette.
QImage logoLayer(int w, int h, const QRectF& box, LogoTone tone = LogoTone::Colour)
{
    QImage img = blank(w, h);
    QPainter p(&img);
    drawLogo(p, box, tone);
    return img;
}

// Deterministic pseudo-random numbers so reruns produce identical files.
class Lcg {
public:
    explicit Lcg(quint32 seed) : m_state(seed) {}
    qreal next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return (m_state >> 8) / qreal(1 << 24);
    }

private:
    quint32 m_state;
};

// ---------------------------------------------------------------------------
// Application icon and tray icons

} // namespace

QImage applicationIcon(int size)
{
    // Below 32 pixels a shadow only blurs the outline: the logo takes the whole square instead.
    if (size < 32)
        return logoLayer(size, size, QRectF(0, 0, size, size));

    // Laid out on 256 pixels and scaled, so that every size is the same picture.
    const qreal scale = size / 256.0;
    const QRectF box(10 * scale, 4 * scale, 236 * scale, 236 * scale);
    const QImage logo = logoLayer(size, size, box);

    QImage img = blank(size, size);
    QPainter p(&img);
    p.drawImage(QPointF(0, 5 * scale), blurredShadow(logo, qRound(10 * scale), QColor(0, 0, 0, 110)));
    p.drawImage(0, 0, logo);
    return img;
}

namespace {

enum class TrayState { Connected, Connecting, Disconnected };

QImage trayIcon(TrayState state)
{
    const int size = 64;
    QImage img = logoLayer(size, size, QRectF(0, 0, 64, 64),
                           state == TrayState::Disconnected ? LogoTone::Muted : LogoTone::Colour);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    const QPointF c(49.5, 49.5);
    const qreal r = 12.5;

    // Punch a transparent ring around the badge so it reads on any panel.
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(c, r + 2.5, r + 2.5);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    QColor top, bottom, edge;
    switch (state) {
    case TrayState::Connected:
        top = QColor(98, 222, 118);
        bottom = QColor(30, 158, 62);
        edge = QColor(18, 110, 42);
        break;
    case TrayState::Connecting:
        top = QColor(255, 196, 74);
        bottom = QColor(238, 128, 10);
        edge = QColor(176, 86, 0);
        break;
    case TrayState::Disconnected:
        top = QColor(236, 96, 90);
        bottom = QColor(190, 38, 38);
        edge = QColor(132, 22, 22);
        break;
    }
    QLinearGradient badge(c.x(), c.y() - r, c.x(), c.y() + r);
    badge.setColorAt(0, top);
    badge.setColorAt(1, bottom);
    p.setPen(QPen(edge, 1.2));
    p.setBrush(badge);
    p.drawEllipse(c, r, r);

    QPen glyph(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setBrush(Qt::NoBrush);
    p.setPen(glyph);
    switch (state) {
    case TrayState::Connected: {
        QPainterPath tick;
        tick.moveTo(c + QPointF(-5.6, 0.4));
        tick.lineTo(c + QPointF(-1.6, 4.4));
        tick.lineTo(c + QPointF(5.6, -3.8));
        p.drawPath(tick);
        break;
    }
    case TrayState::Connecting:
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        for (int i = -1; i <= 1; ++i)
            p.drawEllipse(c + QPointF(i * 5.2, 0), 2.0, 2.0);
        break;
    case TrayState::Disconnected:
        p.drawLine(c + QPointF(-4.2, -4.2), c + QPointF(4.2, 4.2));
        p.drawLine(c + QPointF(4.2, -4.2), c + QPointF(-4.2, 4.2));
        break;
    }
    return img;
}

// ---------------------------------------------------------------------------
// Proxy authentication: a padlock carrying the logo's cloud.

QImage authPicture()
{
    const int size = 64;
    QImage layer = blank(size, size);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);

        // Shackle.
        QPainterPath shackle;
        shackle.moveTo(19, 31);
        shackle.lineTo(19, 20);
        shackle.arcTo(QRectF(19, 6, 26, 28), 180, -180);
        shackle.lineTo(45, 31);
        QLinearGradient steel(19, 0, 45, 0);
        steel.setColorAt(0, QColor(120, 132, 156));
        steel.setColorAt(0.35, QColor(236, 240, 248));
        steel.setColorAt(0.7, QColor(170, 180, 200));
        steel.setColorAt(1, QColor(96, 108, 134));
        p.setPen(QPen(QColor(54, 64, 88), 8.4, Qt::SolidLine, Qt::FlatCap));
        p.drawPath(shackle);
        p.setPen(QPen(QBrush(steel), 6, Qt::SolidLine, Qt::FlatCap));
        p.drawPath(shackle);

        // Body.
        const QRectF bodyRect(9.5, 27.5, 45, 33);
        QPainterPath body;
        body.addRoundedRect(bodyRect, 7, 7);
        QLinearGradient bodyGrad(0, bodyRect.top(), 0, bodyRect.bottom());
        bodyGrad.setColorAt(0, QColor(44, 78, 150));
        bodyGrad.setColorAt(1, QColor(10, 20, 48));
        p.fillPath(body, bodyGrad);
        QPainterPath gloss;
        gloss.addRect(QRectF(bodyRect.left(), bodyRect.top(), bodyRect.width(), 12));
        QLinearGradient glossGrad(0, bodyRect.top(), 0, bodyRect.top() + 12);
        glossGrad.setColorAt(0, QColor(255, 255, 255, 60));
        glossGrad.setColorAt(1, QColor(255, 255, 255, 8));
        p.fillPath(body.intersected(gloss), glossGrad);
        p.setPen(QPen(kOrange, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(bodyRect.adjusted(0.8, 0.8, -0.8, -0.8), 6.2, 6.2);

        // Cloud-and-keyhole emblem from the logo.
        p.save();
        p.translate(32, 44.5);
        p.scale(0.40, 0.40);
        p.translate(-50, -51);
        const QPainterPath cloud = cloudPath().subtracted(keyholePath());
        QLinearGradient cloudGrad(50, 26, 50, 72);
        cloudGrad.setColorAt(0, kOrangeLight);
        cloudGrad.setColorAt(0.5, kOrange);
        cloudGrad.setColorAt(1, kOrangeDark);
        p.fillPath(cloud, cloudGrad);
        p.restore();
    }

    QImage img = blank(size, size);
    QPainter p(&img);
    p.drawImage(QPointF(0, 1.5), blurredShadow(layer, 3, QColor(0, 0, 0, 90)));
    p.drawImage(0, 0, layer);
    return img;
}

// ---------------------------------------------------------------------------
// Dialog banners: a tileable 1 px wide background and a transparent title.

QImage bannerBackground()
{
    QImage img(1, 60, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 60);
    g.setColorAt(0, QColor(36, 64, 126));
    g.setColorAt(0.5, QColor(20, 38, 84));
    g.setColorAt(1, QColor(11, 21, 50));
    p.fillRect(img.rect(), g);
    // Thin top highlight gives the banner an edge against the window frame.
    p.fillRect(QRect(0, 0, 1, 1), QColor(70, 104, 176));
    return img;
}

QImage bannerTitle(int width, bool withTagline)
{
    const int height = 56;
    const QRectF logoBox(4, 4, 48, 48);
    const QImage logo = logoLayer(width, height, logoBox);

    QImage img = blank(width, height);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(QPointF(0, 1.5), blurredShadow(logo, 3, QColor(0, 0, 0, 120)));
    p.drawImage(0, 0, logo);

    const qreal textX = 60;
    if (!withTagline) {
        drawWordmark(p, QPointF(textX, 38), 30, true);
        return img;
    }

    const qreal used = drawWordmark(p, QPointF(textX, 33), 27, true);
    QFont f = uiFont(10.5, false, 0.6);
    p.setFont(f);
    p.setPen(kTextMuted);
    p.drawText(QPointF(textX + 1, 48), QStringLiteral("Private. Protected. Everywhere."));
    Q_UNUSED(used);
    return img;
}

// ---------------------------------------------------------------------------
// Launcher splash

void drawCloudBank(QPainter& p, qreal baseY, qreal startX, qreal scale, const QColor& colour, Lcg& rnd)
{
    QPainterPath bank;
    bank.setFillRule(Qt::WindingFill);
    qreal x = startX;
    while (x < 375 + 60) {
        const qreal r = (18 + rnd.next() * 20) * scale;
        bank.addEllipse(QPointF(x, baseY - r * 0.35), r, r * 0.8);
        x += r * (1.0 + rnd.next() * 0.5);
    }
    bank.addRect(QRectF(-10, baseY - 4, 400, 60));
    p.fillPath(bank.simplified(), colour);
}

QImage launcher()
{
    const int w = 375;
    const int h = 173;
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Night sky.
    QLinearGradient sky(0, 0, w * 0.35, h);
    sky.setColorAt(0, QColor(34, 62, 124));
    sky.setColorAt(0.55, QColor(16, 30, 68));
    sky.setColorAt(1, kNightDeep);
    p.fillRect(img.rect(), sky);

    // Warm glow behind the logo.
    QRadialGradient glow(QPointF(84, 78), 110);
    glow.setColorAt(0, QColor(246, 125, 19, 60));
    glow.setColorAt(0.5, QColor(246, 125, 19, 16));
    glow.setColorAt(1, QColor(246, 125, 19, 0));
    p.fillRect(img.rect(), glow);

    // Stars, sparser towards the bottom.
    Lcg rnd(0x4e696d62u);
    for (int i = 0; i < 90; ++i) {
        const qreal x = rnd.next() * w;
        const qreal y = std::pow(rnd.next(), 1.6) * 120;
        const qreal size = 0.35 + rnd.next() * rnd.next() * 1.1;
        const int alpha = int(50 + rnd.next() * 150 * (1 - y / 140));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 230, 255, alpha));
        p.drawEllipse(QPointF(x, y), size, size);
    }

    // Two layers of distant clouds along the bottom.
    drawCloudBank(p, 150, -20, 1.2, QColor(40, 66, 128, 70), rnd);
    drawCloudBank(p, 160, -5, 0.9, QColor(22, 38, 80, 160), rnd);

    // Settle the bottom into a calm, dark band for the progress bar.
    QLinearGradient floor(0, h - 26, 0, h - 6);
    floor.setColorAt(0, QColor(kNightDeep.red(), kNightDeep.green(), kNightDeep.blue(), 0));
    floor.setColorAt(1, kNightDeep);
    p.fillRect(QRectF(0, h - 26, w, 20), floor);
    p.fillRect(QRectF(0, h - 6, w, 6), kNightDeep);

    // Logo with its shadow.
    const QRectF logoBox(26, 20, 116, 116);
    const QImage logo = logoLayer(w, h, logoBox);
    p.drawImage(QPointF(0, 4), blurredShadow(logo, 8, QColor(0, 0, 0, 150)));
    p.drawImage(0, 0, logo);

    // Wordmark and tagline, fitted to the space right of the logo.
    const qreal textX = 158;
    qreal size = 44;
    while (size > 20 && textX + wordmarkWidth(size, false) > w - 18)
        size -= 1;
    drawWordmark(p, QPointF(textX, 88), size, false);

    p.setPen(QPen(kOrange, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(textX + 2, 101.5), QPointF(textX + 30, 101.5));

    p.setFont(uiFont(12, true, 3.2));
    p.setPen(kOrange);
    p.drawText(QPointF(textX + 1, 122), QStringLiteral("SECURE VPN"));
    return img;
}

// ---------------------------------------------------------------------------
// Server tree icons, 16 x 16, drawn on the pixel grid.

QImage serverPublic()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Centred on a pixel centre so the grid lines fall on whole pixels.
    const QPointF c(7.5, 7.5);
    QRadialGradient sea(QPointF(5.5, 5), 9);
    sea.setColorAt(0, QColor(128, 194, 255));
    sea.setColorAt(1, QColor(30, 96, 200));
    p.setPen(QPen(QColor(18, 62, 140), 1));
    p.setBrush(sea);
    p.drawEllipse(c, 6.5, 6.5);

    QPainterPath inside;
    inside.addEllipse(c, 6, 6);
    p.setClipPath(inside);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    p.drawEllipse(c, 3, 7);
    p.drawLine(QPointF(1, 7.5), QPointF(14, 7.5));
    p.drawLine(QPointF(7.5, 1), QPointF(7.5, 14));
    p.setPen(QPen(QColor(255, 255, 255, 95), 1));
    p.drawLine(QPointF(1, 4.5), QPointF(14, 4.5));
    p.drawLine(QPointF(1, 10.5), QPointF(14, 10.5));
    return img;
}

QImage serverPrivate()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath shackle;
    shackle.moveTo(5, 8);
    shackle.lineTo(5, 5);
    shackle.arcTo(QRectF(5, 2, 6, 6), 180, -180);
    shackle.lineTo(11, 8);
    p.setPen(QPen(QColor(70, 80, 100), 2.6, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(shackle);
    p.setPen(QPen(QColor(196, 204, 220), 1.2, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(shackle);

    const QRectF body(2.5, 7.5, 11, 7);
    QLinearGradient g(0, body.top(), 0, body.bottom());
    g.setColorAt(0, kOrangeLight);
    g.setColorAt(1, kOrangeDark);
    p.setPen(QPen(QColor(150, 62, 0), 1));
    p.setBrush(g);
    p.drawRoundedRect(body, 1.5, 1.5);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 26, 0));
    p.drawEllipse(QPointF(8, 10.4), 1.3, 1.3);
    p.drawRect(QRectF(7.4, 10.6, 1.2, 2.2));
    return img;
}

QImage serverPremium()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF star;
    const QPointF c(8, 8.6);
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0) ? 7.3 : 3.1;
        const qreal a = qDegreesToRadians(-90.0 + i * 36.0);
        star << c + QPointF(r * std::cos(a), r * std::sin(a));
    }
    QLinearGradient g(0, 1, 0, 15);
    g.setColorAt(0, QColor(255, 226, 110));
    g.setColorAt(0.6, QColor(250, 170, 30));
    g.setColorAt(1, kOrange);
    p.setPen(QPen(QColor(170, 80, 0), 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPolygon(star);
    return img;
}

QImage serverFastest()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF bolt;
    bolt << QPointF(7.5, 1) << QPointF(12, 1) << QPointF(9.2, 6.5) << QPointF(13, 6.5)
         << QPointF(5, 15) << QPointF(6.8, 9) << QPointF(3, 9);
    QLinearGradient g(0, 1, 0, 15);
    g.setColorAt(0, QColor(255, 236, 120));
    g.setColorAt(0.55, QColor(255, 176, 40));
    g.setColorAt(1, kOrange);
    p.setPen(QPen(QColor(160, 70, 0), 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPolygon(bolt);
    return img;
}

} // namespace

QVector<Picture> drawAllPictures()
{
    return {
        {QStringLiteral("launcher.png"), launcher()},
        {QStringLiteral("icon.png"), applicationIcon(256)},
        {QStringLiteral("icon_connected.png"), trayIcon(TrayState::Connected)},
        {QStringLiteral("icon_connecting.png"), trayIcon(TrayState::Connecting)},
        {QStringLiteral("icon_disconnected.png"), trayIcon(TrayState::Disconnected)},
        {QStringLiteral("auth.png"), authPicture()},
        {QStringLiteral("auth_title.png"), bannerTitle(260, false)},
        {QStringLiteral("auth_title_bg.png"), bannerBackground()},
        {QStringLiteral("mainwindow_title.png"), bannerTitle(380, true)},
        {QStringLiteral("mainwindow_title_bg.png"), bannerBackground()},
        {QStringLiteral("servers/public.png"), serverPublic()},
        {QStringLiteral("servers/private.png"), serverPrivate()},
        {QStringLiteral("servers/premium.png"), serverPremium()},
        {QStringLiteral("servers/fastest.png"), serverFastest()},
    };
}
