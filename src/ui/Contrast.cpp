#include "ui/Contrast.h"

#include <QEvent>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace kadmel {
namespace {

constexpr double ReadableRatio = 4.5;

double luminance(const QColor& colour)
{
    const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

QColor mixed(const QColor& a, const QColor& b, double share)
{
    const auto part = [share](double x, double y) { return x * (1 - share) + y * share; };
    return QColor::fromRgbF(float(part(a.redF(), b.redF())), float(part(a.greenF(), b.greenF())),
                            float(part(a.blueF(), b.blueF())));
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    const double first = luminance(a), second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor readableColour(const QColor& ground, const QColor& wanted)
{
    if (contrastRatio(ground, wanted) >= ReadableRatio)
        return wanted;
    return contrastRatio(ground, Qt::black) >= contrastRatio(ground, Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
}

namespace {

void applyReadableLabel(QWidget& button)
{
    button.setPalette(QPalette()); // from the scheme as it is now, not the colours made for the one before
    QPalette palette = button.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor ground = palette.color(group, QPalette::Button);
        palette.setColor(group, QPalette::ButtonText,
                         readableColour(ground, palette.color(group, QPalette::ButtonText)));
    }
    // Disabled: halfway to the ground, so it reads as off beside an enabled label, yet is still there.
    const QColor ground = palette.color(QPalette::Disabled, QPalette::Button);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText,
                     mixed(palette.color(QPalette::Active, QPalette::ButtonText), ground, 0.6));
    button.setPalette(palette);
}

// Makes the colours anew when the desktop changes its scheme while the program runs.
class ReadableLabel : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange && !m_applying && watched->isWidgetType()) {
            m_applying = true; // the new palette's own change comes back here
            applyReadableLabel(*static_cast<QWidget*>(watched));
            m_applying = false;
        }
        return false;
    }

private:
    bool m_applying = false;
};

} // namespace

void makeLabelReadable(QWidget& button)
{
    applyReadableLabel(button);
    button.installEventFilter(new ReadableLabel(&button));
}

} // namespace kadmel
