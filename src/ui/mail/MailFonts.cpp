#include "ui/mail/MailFonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>

namespace kadmel {

QFont monospaceFont()
{
    QFont font(QStringLiteral("Lucida Console"));
    font.setStyleHint(QFont::Monospace);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(8.25);
    return font;
}

QFont labelFont(bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(bold);
    return font;
}

QColor readableOn(const QColor& ground, const QColor& onLight, const QColor& onDark)
{
    return ground.lightness() < 128 ? onDark : onLight;
}

QLabel* placedLabel(QWidget* parent, const QString& name, const QRect& place, const QFont& font, const QColor& colour)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace kadmel
