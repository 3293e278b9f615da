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

// The hardware edition: on Linux our own library, beside the program or in
// the private folder, and a missing one is the installation's fault.
TEST(SimulatorLocation, HardwareEditionBindsItsOwnLibraryOnLinuxAndTheVendorsOnWindows)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString bin = prefix.filePath("bin");
    QDir().mkpath(bin);
#ifdef USB_RELATIVE_INSTALL_DIR
    EXPECT_EQ(hardwareLibrary(bin).name, "kvx340usb");
    EXPECT_EQ(hardwareLibrary(bin).source, LibrarySource::Bundled);

    const QString installed = QDir::cleanPath(bin + "/" USB_RELATIVE_INSTALL_DIR "/libkvx340usb.so");
    QDir().mkpath(QFileInfo(installed).path());
    QFile(installed).open(QIODevice::WriteOnly);
    EXPECT_EQ(hardwareLibrary(bin).name, installed);

    const QString beside = bin + "/libkvx340usb.so";
    QFile(beside).open(QIODevice::WriteOnly);
    EXPECT_EQ(hardwareLibrary(bin).name, beside);
#else
    EXPECT_EQ(hardwareLibrary(bin).name, "SiUSBXp");
    EXPECT_EQ(hardwareLibrary(bin).source, LibrarySource::Vendor);
#endif
}
