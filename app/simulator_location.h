// Where the simulator edition finds the simulated controller's library:
// beside the program when run from the build tree, or in the installed
// library folder, so the operator never has to set a path.
#pragma once

#include <QString>
#include <QStringList>

namespace kvx {

// Candidate files, most likely first, for a program living in appDir.
QStringList simulatorLibraryCandidates(const QString& appDir);

// The first candidate that exists; the bare library name when none does,
// so the loader's own search and its error message take over.
QString simulatorLibraryPath(const QString& appDir);

} // namespace kvx
