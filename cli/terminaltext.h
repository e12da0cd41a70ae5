#pragma once
// Lines for the terminal. What a site wrote (a title, a chapter or site name, an error it caused)
// reaches the terminal only through here, with its control characters shown as spaces: escape
// sequences in a page must not retitle, recolour or rewrite the reader's terminal.

#include <QString>

#include <cstdio>

namespace terminaltext {

// text with every control character but the line break as a space.
QString shown(QString text);

// Prints shown(line) and a line break on stream, in the terminal's encoding.
void printLine(const QString &line, FILE *stream = stdout);

} // namespace terminaltext
