// Draws the main window's pictures into PNG files (src/ui/resources). Not part of any build target:
// the whole file is empty unless KADMEL_DRAW_PICTURES is defined. Run once after changing a picture:
//   g++ -std=c++20 -fPIC -DKADMEL_DRAW_PICTURES tools/pictures/drawpictures.cpp $(pkg-config --cflags --libs Qt6Gui) -o
//   /tmp/dp QT_QPA_PLATFORM=offscreen /tmp/dp src/ui/resources
#ifdef KADMEL_DRAW_PICTURES

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cmath>
#include <functional>

namespace {

const QColor Ink(0x24, 0x3b, 0x6b);
const QColor Paper(0xfb, 0xfb, 0xf4);
const QColor Green(0x2e, 0x9b, 0x3c);
const QColor Red(0xcc, 0x2b, 0x2b);
const QColor Orange(0xe8, 0x8a, 0x10);
const QColor Grey(0x7a, 0x7f, 0x87);

// Every icon is drawn on a 16 × 16 grid and scaled, so the lines fall on whole pixels at 16 px.
void envelope(QPainter& p, QRectF r)
{
    p.setPen(QPen(Ink, 1.0));
    p.setBrush(Paper);
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.left(), r.top());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
    flap.lineTo(r.right(), r.top());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void badge(QPainter& p, const QColor& colour, QPointF centre, qreal radius)
{
    p.setPen(QPen(Qt::white, 1.0));
    p.setBrush(colour);
    p.drawEllipse(centre, radius, radius);
}

void tick(QPainter& p, QPointF c)
{
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QList<QPointF>{c + QPointF(-2.2, 0), c + QPointF(-0.6, 1.8), c + QPointF(2.4, -2)});
}

void cross(QPainter& p, QPointF c)
{
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-1.8, -1.8), c + QPointF(1.8, 1.8));
    p.drawLine(c + QPointF(-1.8, 1.8), c + QPointF(1.8, -1.8));
}

void arrow(QPainter& p, const QColor& colour, QPointF tip, qreal size)
{
    QPainterPath a;
    a.moveTo(tip);
    a.lineTo(tip + QPointF(-size, -size));
    a.lineTo(tip + QPointF(-size, -size / 2.5));
    a.lineTo(tip + QPointF(-size * 2, -size / 2.5));
    a.lineTo(tip + QPointF(-size * 2, size / 2.5));
    a.lineTo(tip + QPointF(-size, size / 2.5));
    a.lineTo(tip + QPointF(-size, size));
    a.closeSubpath();
    p.setPen(QPen(Qt::white, 0.8));
    p.setBrush(colour);
    p.drawPath(a);
}

void folderShape(QPainter& p, QRectF r, const QColor& colour)
{
    QPainterPath f;
    f.moveTo(r.left(), r.top() + 1.5);
    f.lineTo(r.left() + 5, r.top() + 1.5);
    f.lineTo(r.left() + 6.5, r.top() + 3);
    f.lineTo(r.right(), r.top() + 3);
    f.lineTo(r.right(), r.bottom());
    f.lineTo(r.left(), r.bottom());
    f.closeSubpath();
    p.setPen(QPen(colour.darker(160), 1.0));
    p.setBrush(colour);
    p.drawPath(f);
    p.drawLine(QPointF(r.left(), r.top() + 5), QPointF(r.right(), r.top() + 5));
}

void gear(QPainter& p)
{
    QPainterPath g;
    const QPointF c(8, 8);
    for (int i = 0; i < 16; ++i) {
        const qreal angle = i * M_PI / 8;
        const qreal radius = (i % 2 == 0) ? 7.0 : 5.2;
        const QPointF pt = c + QPointF(std::cos(angle) * radius, std::sin(angle) * radius);
        if (i == 0)
            g.moveTo(pt);
        else
            g.lineTo(pt);
    }
    g.closeSubpath();
    g.addEllipse(c, 2.2, 2.2);
    g.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(Grey.darker(150), 0.8));
    p.setBrush(Grey);
    p.drawPath(g);
}

void trash(QPainter& p)
{
    p.setPen(QPen(Grey.darker(160), 1.0));
    p.setBrush(QColor(0xc8, 0xcc, 0xd2));
    p.drawRect(QRectF(3.5, 4.5, 9, 10));
    p.drawRect(QRectF(2.5, 2.5, 11, 2));
    p.drawRect(QRectF(6.5, 1.0, 3, 1.5));
    for (qreal x : {6.0, 8.0, 10.0})
        p.drawLine(QPointF(x, 6.5), QPointF(x, 12.5));
}

void state(QPainter& p, bool active)
{
    badge(p, active ? Green : Red, QPointF(8, 8), 7);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    if (active)
        p.drawPolygon(QPolygonF(QList<QPointF>{{6, 4.5}, {12, 8}, {6, 11.5}}));
    else
        p.drawRect(QRectF(5, 5, 6, 6));
}

void plug(QPainter& p, bool online)
{
    const QColor colour = online ? Green : Grey;
    p.setPen(QPen(colour.darker(140), 1.0));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(4.5, 5.5, 7, 6), 1.5, 1.5);
    p.drawLine(QPointF(6.5, 2), QPointF(6.5, 5.5));
    p.drawLine(QPointF(9.5, 2), QPointF(9.5, 5.5));
    p.drawLine(QPointF(8, 11.5), QPointF(8, 15));
    if (!online) {
        p.setPen(QPen(Red, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(2, 14), QPointF(14, 2));
    }
}

using Painting = std::function<void(QPainter&)>;

bool save(const QString& folder, const QString& name, QSize size, qreal gridScale, const Painting& paint)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(gridScale, gridScale);
    paint(p);
    p.end();
    return image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

void banner(QPainter& p, int width, int height)
{
    QLinearGradient g(0, 0, width, 0);
    g.setColorAt(0, Ink);
    g.setColorAt(1, QColor(0x4a, 0x78, 0xb8));
    p.fillRect(QRect(0, 0, width, height), g);
    p.save();
    p.translate(10, 8);
    p.scale(2, 2);
    envelope(p, QRectF(0.5, 1.5, 15, 11));
    p.restore();
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(56, 0, width - 60, height), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Kadmel Mail System v3.0"));
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const QList<std::pair<QString, Painting>> icons = {
        {QStringLiteral("Active"), [](QPainter& p) { state(p, true); }},
        {QStringLiteral("Inactive"), [](QPainter& p) { state(p, false); }},
        {QStringLiteral("Online"), [](QPainter& p) { plug(p, true); }},
        {QStringLiteral("Offline"), [](QPainter& p) { plug(p, false); }},
        {QStringLiteral("Mail"), [](QPainter& p) { envelope(p, QRectF(0.5, 3.5, 15, 10)); }},
        {QStringLiteral("Mail1"),
         [](QPainter& p) {
             envelope(p, QRectF(0.5, 2.5, 13, 9));
             badge(p, Green, QPointF(11.5, 11.5), 4);
             tick(p, QPointF(11.5, 11.5));
         }},
        {QStringLiteral("Mail2"),
         [](QPainter& p) {
             envelope(p, QRectF(0.5, 2.5, 13, 9));
             badge(p, Red, QPointF(11.5, 11.5), 4);
             cross(p, QPointF(11.5, 11.5));
         }},
        {QStringLiteral("Send"),
         [](QPainter& p) {
             envelope(p, QRectF(0.5, 1.5, 12, 9));
             arrow(p, Orange, QPointF(15.5, 12), 4);
         }},
        {QStringLiteral("MailSent"),
         [](QPainter& p) {
             folderShape(p, QRectF(0.5, 2.5, 15, 12), QColor(0xf2, 0xc9, 0x4c));
             arrow(p, Green, QPointF(14, 10.5), 3.5);
         }},
        {QStringLiteral("MailError"),
         [](QPainter& p) {
             folderShape(p, QRectF(0.5, 2.5, 15, 12), QColor(0xf2, 0xc9, 0x4c));
             badge(p, Red, QPointF(10.5, 10), 4);
             p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(10.5, 7.8), QPointF(10.5, 10.4));
             p.drawPoint(QPointF(10.5, 12.3));
         }},
        {QStringLiteral("Trash"), [](QPainter& p) { trash(p); }},
        {QStringLiteral("Options"), [](QPainter& p) { gear(p); }},
        {QStringLiteral("Folder"),
         [](QPainter& p) { folderShape(p, QRectF(0.5, 2.5, 15, 12), QColor(0xf2, 0xc9, 0x4c)); }},
    };
    bool ok = true;
    for (const auto& [name, paint] : icons) {
        ok = save(out, name, QSize(16, 16), 1, paint) && ok;
        ok = save(out, name + QStringLiteral("@2x"), QSize(32, 32), 2, paint) && ok;
    }
    ok = save(out, QStringLiteral("Banner"), QSize(911, 48), 1, [](QPainter& p) { banner(p, 911, 48); }) && ok;
    ok = save(out, QStringLiteral("ProgressBar"), QSize(64, 22), 1,
              [](QPainter& p) {
                  QLinearGradient g(0, 0, 0, 22);
                  g.setColorAt(0, QColor(0x6f, 0xa8, 0xee));
                  g.setColorAt(1, QColor(0x1f, 0x55, 0xa8));
                  p.fillRect(QRect(0, 0, 64, 22), g);
              }) &&
         ok;
    for (int size : {16, 32, 64}) {
        ok = save(out, QStringLiteral("Program%1").arg(size), QSize(size, size), size / 16.0,
                  [](QPainter& p) {
                      envelope(p, QRectF(0.5, 3.5, 15, 10));
                      badge(p, Ink, QPointF(12, 12), 3.8);
                      QFont font(QStringLiteral("DejaVu Sans"));
                      font.setPixelSize(6);
                      font.setBold(true);
                      p.setFont(font);
                      p.setPen(Qt::white);
                      p.drawText(QRectF(8.2, 8.2, 7.6, 7.6), Qt::AlignCenter, QStringLiteral("K"));
                  }) &&
             ok;
    }
    return ok ? 0 : 1;
}

#endif
