#include "engine/AutostartEntry.h"

#include "store/FileAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace kadmel {
namespace {

// The path as one argument of an Exec line: quoted where the desktop entry rules reserve a character,
// then escaped once more for the string value; '%' is doubled, as it would start a field code.
QString execArgument(const QString& path)
{
    static const QString Reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = path;
    if (std::any_of(path.begin(), path.end(), [](QChar c) { return Reserved.contains(c); })) {
        argument.clear();
        for (const QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    }
    return argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('%'), QStringLiteral("%%"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

// The entry's text, UTF-8 as desktop entries are.
QByteArray entryText(const QString& executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Kadmel Mail System\n"
                          "Comment=Versendet Auftragsdateien als E-Mails über SMTP\n"
                          "Exec=%1\n"
                          "Icon=com.example.Kadmel\n"
                          "Terminal=false\n")
        .arg(execArgument(executable))
        .toUtf8();
}

} // namespace

AutostartEntry::AutostartEntry(QString executable) : m_executable(std::move(executable)) {}

QString AutostartEntry::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/com.example.Kadmel.desktop");
}

bool AutostartEntry::exists() const
{
    return QFileInfo(filePath()).isFile();
}

bool AutostartEntry::set(bool on, QString* error) const
{
    const QString path = filePath();
    if (!on)
        return removeFile(path, error);
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Der Ordner %1 lässt sich nicht anlegen.").arg(folder);
        return false;
    }
    return writeWholeFile(path, entryText(m_executable), error);
}

} // namespace kadmel
