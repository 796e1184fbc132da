#include "ctl/Terminal.h"

#include <QJsonDocument>

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace kadmel {

void writeLine(std::FILE* to, const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), to);
    std::fflush(to);
}

void printAnswer(bool json, const QJsonObject& line)
{
    if (json)
        return writeLine(stdout, QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
    if (line.contains(QLatin1String("meldung")))
        writeLine(line.value(QLatin1String("fehler")).toBool() ? stderr : stdout,
                  line.value(QLatin1String("meldung")).toString());
}

QJsonObject said(const QString& text, bool error)
{
    QJsonObject line{{QStringLiteral("meldung"), text}};
    if (error)
        line.insert(QStringLiteral("fehler"), true);
    return line;
}

int endAnswer(bool json, int code)
{
    if (json)
        printAnswer(json, {{QStringLiteral("code"), code}});
    return code;
}

std::optional<QString> readLineFromStdin()
{
    char buffer[MostLineBytes + 2];
    if (!std::fgets(buffer, sizeof buffer, stdin))
        return std::nullopt;
    QByteArray line(buffer);
    if (!line.endsWith('\n') && !std::feof(stdin))
        return std::nullopt; // longer than any password
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromLocal8Bit(line);
}

namespace {

termios echoing = {};

// Ctrl+C at the prompt: the terminal gets its echo back before the program ends.
void restoreAndEnd(int)
{
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &echoing);
    ::_exit(130);
}

} // namespace

std::optional<QString> askWithoutEcho(const QString& prompt)
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &echoing) != 0)
        return readLineFromStdin();
    const termios before = echoing;
    struct sigaction restore = {}, previous = {};
    restore.sa_handler = restoreAndEnd;
    ::sigaction(SIGINT, &restore, &previous);
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios quiet = before;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    const std::optional<QString> line = readLineFromStdin();
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    ::sigaction(SIGINT, &previous, nullptr);
    std::fputs("\n", stderr);
    return line;
}

} // namespace kadmel
