#pragma once

#include <QByteArray>
#include <functional>

namespace kadmel {

// Progress report in the form of SetPBValue(value, maximum, option).
using ProgressReport = std::function<void(qint32 value, qint32 maximum, qint16 option)>;

// The fixed HTML page around a plain-text body: space runs as "&nbsp;", CR LF as "<BR>",
// a space after a line break protected. One linear pass.
QByteArray ComposeHtmlBody(const QByteArray& body, const ProgressReport& progress = {});

// The size of ComposeHtmlBody(body), counted without building the page.
qsizetype ComposedHtmlSize(const QByteArray& body);

} // namespace kadmel
