#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <optional>

namespace kadmel {

// kadmelctl's terminal: lines out in the locale's encoding, a line in from standard input.
void writeLine(std::FILE* to, const QString& line);
// An answer line as kadmelctl prints it: with `json` the object as one line of JSON, else its "meldung" alone, on
// standard error when it is kadmelctl's own complaint ("fehler").
void printAnswer(bool json, const QJsonObject& line);
QJsonObject said(const QString& text, bool error = false);
// The last line, {"code":n}, with `json`; returns the code.
int endAnswer(bool json, int code);

// One line of standard input without its line break; nothing at its end or past MostLineBytes.
std::optional<QString> readLineFromStdin();
// The same from the terminal with its echo off, after the prompt on standard error; standard input where no
// terminal is.
std::optional<QString> askWithoutEcho(const QString& prompt);

inline constexpr int MostLineBytes = 4096;

} // namespace kadmel
