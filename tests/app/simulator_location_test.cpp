#include "simulator_location.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kvx;

TEST(SimulatorLocation, FindsTheLibraryBesideOrInstalledBelowTheProgram)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString bin = prefix.filePath("bin");
    QDir().mkpath(bin);

    const QStringList candidates = simulatorLibraryCandidates(bin);
    ASSERT_GE(candidates.size(), 2);
    // Every place is found from the program's own folder: none is a fixed
    // path such as the build tree's, which an installed program must not use.
    for (const QString& candidate : candidates)
        EXPECT_TRUE(candidate.startsWith(prefix.path() + "/")) << candidate.toStdString();

    QDir().mkpath(QFileInfo(candidates[1]).path());
    QFile installed(candidates[1]);
    ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
    installed.close();
    EXPECT_EQ(simulatorLibraryPath(bin), candidates[1]);

    QFile beside(candidates[0]);
    ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
    beside.close();
    EXPECT_EQ(simulatorLibraryPath(bin), candidates[0]);
}
