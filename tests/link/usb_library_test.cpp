#include "usb_library.h"

#include <gtest/gtest.h>

using namespace kvx;

namespace {
const QString TestLibrary = QStringLiteral(TEST_USBLIB_DIR "/kvx_test_usblib");
}

TEST(UsbLibrary, BindsByNameAndNarrowsStatusesTo16Bits)
{
    UsbLibrary library(TestLibrary, QStringLiteral("test"));
    uint32_t count = 0;
    EXPECT_EQ(library.SI_GetNumDevices(&count), 0);
    EXPECT_EQ(count, 3u);

    UsbHandle handle = nullptr;
    EXPECT_EQ(library.SI_Open(2, &handle), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(handle), 0x7F00000002ull);
    // No selection reaches the library as 0xFFFFFFFF; 0xFFFF comes back as -1.
    EXPECT_EQ(library.SI_Open(NoDevice, &handle), -1);
}

TEST(UsbLibrary, MissingFunctionFailsItsFirstCallWithItsName)
{
    UsbLibrary library(TestLibrary, QStringLiteral("SiUSBXp"));
    uint32_t count = 0;
    ASSERT_EQ(library.SI_GetNumDevices(&count), 0);
    try {
        library.SI_Close(nullptr);
        FAIL() << "SI_Close should not bind";
    } catch (const LinkUnavailable& e) {
        EXPECT_STREQ(e.what(), "The USB library SiUSBXp has no function SI_Close. Application is aborting.");
    }
}

// The vendor's library is the operator's to install, as the manual page says;
// the simulator's is part of the installation, which is then broken.
TEST(UsbLibrary, MissingLibraryGivesTheLoadersReasonAndWhatToDo)
{
    struct Case {
        QString name;
        LibrarySource source;
        QString start, end;
    };
#ifdef Q_OS_WIN
    const char* vendorFile = "kvx-no-such-usb-library.dll (";
    const char* vendorAdvice = "must be placed beside kvx340.exe or in the Windows system folder. "
                               "Application is aborting.";
    const char* loaderWords = "Module not found";
#else
    const char* vendorFile = "libkvx-no-such-usb-library.so (kvx-no-such-usb-library: ";
    const char* vendorAdvice = "must be installed: see kvx340(1). Application is aborting.";
    const char* loaderWords = "cannot open shared object file";
#endif
    const Case cases[] = {
        {"kvx-no-such-usb-library", LibrarySource::Vendor,
         QStringLiteral("The controller's USB library SiUSBXp could not be loaded from ") + vendorFile,
         vendorAdvice},
        {"/nonexistent/libkvx340sim.so", LibrarySource::Simulator,
         "kvx340-sim cannot load its own library libkvx340sim.so (",
         "it is missing from this installation, which should be reinstalled. Application is aborting."},
        {"/nonexistent/libkvx340usb.so", LibrarySource::Bundled,
         "kvx340 cannot load its own USB library libkvx340usb.so (",
         "it is missing from this installation, which should be reinstalled. Application is aborting."},
    };
    for (const Case& c : cases) {
        UsbLibrary library(c.name, QStringLiteral("SiUSBXp"), c.source);
        uint32_t count = 0;
        try {
            library.SI_GetNumDevices(&count);
            ADD_FAILURE() << "the library should not load: " << c.name.toStdString();
        } catch (const LinkUnavailable& e) {
            const QString message = QString::fromStdString(e.what());
            EXPECT_TRUE(message.startsWith(c.start)) << message.toStdString();
            EXPECT_TRUE(message.endsWith(c.end)) << message.toStdString();
            EXPECT_TRUE(message.contains(loaderWords)) << message.toStdString();
            EXPECT_FALSE(message.contains("Cannot load library")) << message.toStdString();
        }
    }
}
