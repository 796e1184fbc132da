#include "ui/PortText.h"

#include <cmath>
#include <limits>

namespace kadmel {

std::optional<qint16> parsePortText(const QString& text)
{
    QString number = text.trimmed();
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = number.toDouble(&ok); // C locale: point only, after the replacement above
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode: half to even
    // Port 0 and below name no server port; they are refused like a text.
    if (rounded < MinPort || rounded > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

} // namespace kadmel
