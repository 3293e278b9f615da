// Where the simulator edition finds the simulated controller's library:
// beside the program (as in the build tree), or in the installed library
// folder relative to it, so the operator never has to set a path and a
// moved installation still works.
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
