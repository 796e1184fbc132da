#include "ui/mail/MailFonts.h"

#include <QFontDatabase>
#include <QFontInfo>

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

} // namespace kadmel
