// Paints the pictures of the mail windows into the current folder. Not part of the build:
// run paint_pictures.sh after a change here and commit the PNG files it writes.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QImage blank(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void drawEnvelope(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(40, 60, 120), r.width() / 24.0));
    p.setBrush(QColor(250, 246, 225));
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.58);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

QImage about()
{
    QImage image = blank(400, 252); // 6000 x 3780 twips
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 252);
    sky.setColorAt(0, QColor(18, 36, 92));
    sky.setColorAt(1, QColor(4, 10, 34));
    p.fillRect(image.rect(), sky);
    drawEnvelope(p, QRectF(318, 122, 58, 38));
    p.setPen(QColor(255, 255, 255));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 18, QFont::Bold));
    p.drawText(QPointF(24, 56), QStringLiteral("Kadmel Mail System"));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 11));
    p.setPen(QColor(200, 210, 240));
    p.drawText(QPointF(24, 80), QStringLiteral("Version 3.0  \u2013  ZUB"));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    p.drawText(QPointF(24, 118), QStringLiteral("Versand von Auftragsdateien als E-Mail \u00FCber SMTP,"));
    p.drawText(QPointF(24, 132), QStringLiteral("mit Ordnern f\u00FCr gesendete, fehlgeschlagene"));
    p.drawText(QPointF(24, 146), QStringLiteral("und gel\u00F6schte Objekte."));
    p.setPen(QColor(120, 140, 190));
    p.drawLine(QPointF(24, 170), QPointF(376, 170));
    p.setPen(QColor(200, 210, 240));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 7));
    p.drawText(QPointF(24, 190), QStringLiteral("Kontakt (Maus auf die Zeile):"));
    p.drawText(QPointF(24, 209), QStringLiteral("Internet"));
    p.drawText(QPointF(24, 221), QStringLiteral("Support"));
    p.drawText(QPointF(24, 244), QStringLiteral("\u00A9 Kadmel. Alle Rechte vorbehalten."));
    return image;
}

QImage closeButton(bool pressed)
{
    QImage image = blank(14, 14);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(pressed ? QColor(170, 30, 30) : QColor(225, 225, 225));
    p.drawRoundedRect(QRectF(0.5, 0.5, 13, 13), 2, 2);
    p.setPen(QPen(pressed ? QColor(255, 255, 255) : QColor(40, 40, 40), 1.6));
    const qreal shift = pressed ? 0.8 : 0.0; // a pressed button sinks a little
    p.drawLine(QPointF(4 + shift, 4 + shift), QPointF(10 + shift, 10 + shift));
    p.drawLine(QPointF(10 + shift, 4 + shift), QPointF(4 + shift, 10 + shift));
    return image;
}

QImage envelope(int size)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawEnvelope(p, QRectF(size * 0.06, size * 0.2, size * 0.88, size * 0.6));
    return image;
}

QImage editIcon()
{
    QImage image = envelope(40); // 600 x 600 twips
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(27, 25);
    p.rotate(45);
    p.setPen(QColor(60, 40, 10));
    p.setBrush(QColor(240, 180, 40));
    p.drawRect(QRectF(-3, -16, 6, 22));
    QPainterPath tip;
    tip.moveTo(-3, 6);
    tip.lineTo(3, 6);
    tip.lineTo(0, 12);
    tip.closeSubpath();
    p.setBrush(QColor(230, 200, 160));
    p.drawPath(tip);
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const bool ok = about().save(QStringLiteral("about.png")) && closeButton(false).save(QStringLiteral("close.png")) &&
                    closeButton(true).save(QStringLiteral("close_pressed.png")) &&
                    envelope(32).save(QStringLiteral("envelope.png")) && editIcon().save(QStringLiteral("edit.png"));
    return ok ? 0 : 1;
}
