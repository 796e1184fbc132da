#pragma once

#include <QString>
#include <optional>

namespace kadmel {

// The port typed in the settings dialog: decimal comma or point, rounded half to even ("0025" → 25,
// "24.5" → 24, "25.5" → 26). Nothing when the text is no number or the result is outside 1 … 32767.
std::optional<qint16> parsePortText(const QString& text);

inline constexpr qint16 MinPort = 1;
// The port a never-set value stands for.
inline constexpr qint16 DefaultPort = 25;

} // namespace kadmel
