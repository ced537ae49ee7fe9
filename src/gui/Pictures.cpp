#include "Pictures.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace vexo {

namespace {

const QColor kInk(40, 52, 70);
const QColor kBlue(38, 110, 190);
const QColor kGreen(46, 150, 70);
const QColor kRed(200, 50, 45);
const QColor kAmber(230, 160, 30);

// A rack unit seen from the front: the common body of the element pictures.
void drawUnit(QPainter& p, const QColor& face, const QColor& led)
{
    QLinearGradient g(0, 30, 0, 74);
    g.setColorAt(0, face.lighter(140));
    g.setColorAt(1, face);
    p.setPen(QPen(kInk, 3));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(6, 30, 88, 44), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(led);
    p.drawEllipse(QPointF(20, 52), 6, 6);
    p.setBrush(QColor(255, 255, 255, 190));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(36 + i * 12, 44, 7, 16));
}

void drawArrowHead(QPainter& p, QPointF tip, double angleDeg, double size)
{
    const double a = qDegreesToRadians(angleDeg);
    QPainterPath head;
    head.moveTo(tip);
    head.lineTo(tip - QPointF(size * std::cos(a - 0.5), -size * std::sin(a - 0.5)));
    head.lineTo(tip - QPointF(size * std::cos(a + 0.5), -size * std::sin(a + 0.5)));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.drawPath(head);
}

// Draws picture n on a 100 x 100 canvas.
void drawPicture(QPainter& p, int n)
{
    p.setRenderHint(QPainter::Antialiasing);
    switch (n) {
    case 1: { // discover: a radar sweep over the network
        p.setPen(QPen(kBlue, 6));
        p.setBrush(Qt::NoBrush);
        for (int r : {16, 30, 44})
            p.drawArc(QRectF(50 - r, 56 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
        p.setBrush(kInk);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(50, 56), 9, 9);
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(78, 24), 8, 8);
        p.drawEllipse(QPointF(22, 30), 6, 6);
        p.setPen(QPen(kInk, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(50, 56), QPointF(50, 92));
        break;
    }
    case 2: { // refresh: two chasing arrows
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kGreen, 10, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(18, 18, 64, 64), 20 * 16, 150 * 16);
        p.drawArc(QRectF(18, 18, 64, 64), 200 * 16, 150 * 16);
        p.setBrush(kGreen);
        drawArrowHead(p, QPointF(14, 44), -80, 20);
        drawArrowHead(p, QPointF(86, 56), 100, 20);
        break;
    }
    case 3: { // save: a disk
        p.setPen(QPen(kInk, 4));
        p.setBrush(kBlue);
        QPainterPath body;
        body.moveTo(12, 12);
        body.lineTo(76, 12);
        body.lineTo(88, 24);
        body.lineTo(88, 88);
        body.lineTo(12, 88);
        body.closeSubpath();
        p.drawPath(body);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(26, 12, 44, 26));
        p.setBrush(QColor(230, 236, 245));
        p.drawRect(QRectF(22, 54, 56, 34));
        p.setBrush(kInk);
        p.drawRect(QRectF(56, 17, 8, 16));
        break;
    }
    case 4:
    case 5: { // audio monitoring: a level meter, with play or stop
        p.setPen(Qt::NoPen);
        const QColor bars[] = {kGreen, kGreen, kGreen, kAmber, kRed};
        for (int i = 0; i < 5; ++i) {
            p.setBrush(bars[i]);
            const double h = 14 + i * 12;
            p.drawRoundedRect(QRectF(8 + i * 12, 70 - h, 9, h), 2, 2);
        }
        p.setBrush(kInk);
        p.drawRect(QRectF(6, 74, 60, 5));
        if (n == 4) {
            QPainterPath play;
            play.moveTo(66, 50);
            play.lineTo(96, 70);
            play.lineTo(66, 90);
            play.closeSubpath();
            p.setBrush(kGreen.darker(120));
            p.drawPath(play);
        } else {
            p.setBrush(kRed);
            p.drawRoundedRect(QRectF(68, 54, 30, 30), 4, 4);
        }
        break;
    }
    case 6: { // encoder: unit with an outgoing arrow
        drawUnit(p, QColor(90, 150, 220), kGreen);
        p.setPen(QPen(kRed.darker(110), 7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(50, 24), QPointF(50, 6));
        p.setBrush(kRed.darker(110));
        drawArrowHead(p, QPointF(50, 0), 90, 16);
        break;
    }
    default: { // decoder and everything else: unit with an incoming arrow
        drawUnit(p, QColor(150, 160, 175), kAmber);
        p.setPen(QPen(kBlue, 7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(50, 2), QPointF(50, 16));
        p.setBrush(kBlue);
        drawArrowHead(p, QPointF(50, 28), -90, 16);
        break;
    }
    }
}

class DrawnIconEngine : public QIconEngine
{
public:
    explicit DrawnIconEngine(int n) : m_n(n) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 100.0, rect.height() / 100.0);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.35);
        if (m_n == 0) {
            drawPicture(*painter, 6);
            painter->translate(0, 22);
            painter->setPen(QPen(kInk, 5));
            painter->drawLine(QPointF(50, 52), QPointF(50, 70));
        } else {
            drawPicture(*painter, m_n);
        }
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new DrawnIconEngine(m_n); }

private:
    int m_n;
};

} // namespace

QIcon picture(int number)
{
    return QIcon(new DrawnIconEngine(number));
}

QIcon applicationIcon()
{
    // The same picture as the desktop menu entry, in every size the package installs.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size), QSize(size, size));
    return icon.isNull() ? QIcon(new DrawnIconEngine(0)) : icon;
}

QPixmap noticePicture(qreal devicePixelRatio)
{
    // Drawn at the screen's density, so it stays sharp on a high-density screen.
    QPixmap pm(QSize(420, 373) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 373);
    sky.setColorAt(0, QColor(24, 44, 84));
    sky.setColorAt(1, QColor(70, 120, 180));
    p.fillRect(pm.rect(), sky);
    // A transmitter mast on a hill, fed from the studio across the network.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 80, 50));
    p.drawEllipse(QRectF(160, 300, 400, 160));
    p.setBrush(QColor(30, 60, 40));
    p.drawEllipse(QRectF(-120, 320, 360, 140));
    p.setPen(QPen(QColor(220, 225, 235), 4));
    const QPointF base1(300, 312), base2(340, 312), top(320, 90);
    p.drawLine(base1, top);
    p.drawLine(base2, top);
    for (int y = 120; y < 312; y += 28) {
        const double t = (y - 90) / 222.0;
        p.drawLine(QPointF(320 - 20 * t, y), QPointF(320 + 20 * t, y + 14));
    }
    p.setBrush(kRed);
    p.setPen(Qt::NoPen);
    p.drawEllipse(top, 7, 7);
    p.setPen(QPen(QColor(255, 255, 255, 150), 3));
    p.setBrush(Qt::NoBrush);
    for (int r = 30; r <= 90; r += 30)
        p.drawArc(QRectF(top.x() - r, top.y() - r, 2 * r, 2 * r), -40 * 16, 80 * 16);
    // The studio building and the link.
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(200, 205, 215));
    p.drawRect(QRectF(40, 250, 110, 70));
    p.setBrush(QColor(255, 220, 120));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(52 + i * 32, 265, 20, 18));
    p.setPen(QPen(kAmber, 3, Qt::DashLine));
    p.drawLine(QPointF(150, 270), QPointF(300, 200));
    QFont f = p.font();
    f.setPixelSize(30);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 20, 420, 40), Qt::AlignCenter, QStringLiteral("Vexolink"));
    f.setPixelSize(15);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRectF(0, 58, 420, 24), Qt::AlignCenter,
               QStringLiteral("IP audio studio-to-transmitter links"));
    return pm;
}

} // namespace vexo
