#pragma once
// Where the book library of a settings file lives: beside it, with its base name and ".sqlite";
// for the user's own settings file under the XDG config folder, in the user's data folder.

#include <QString>

namespace library {

// The library that goes with the settings file at settingsFile.
QString libraryPathFor(const QString &settingsFile);

} // namespace library
