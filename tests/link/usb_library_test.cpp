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
        EXPECT_STREQ(e.what(), "The USB library SiUSBXp has no function SI_Close.");
    }
}

TEST(UsbLibrary, MissingLibraryNamesItsFileTheLoadersReasonAndTheEnd)
{
    UsbLibrary library(QStringLiteral("kvx-no-such-usb-library"), QStringLiteral("SiUSBXp"));
    uint32_t count = 0;
    try {
        library.SI_GetNumDevices(&count);
        FAIL() << "the library should not load";
    } catch (const LinkUnavailable& e) {
        const QString message = QString::fromStdString(e.what());
        EXPECT_TRUE(message.startsWith("The controller's USB library SiUSBXp could not be loaded from "
                                       "libkvx-no-such-usb-library.so (kvx-no-such-usb-library: "
                                       "cannot open shared object file"))
            << message.toStdString();
        EXPECT_TRUE(message.endsWith("\"The hardware edition\". Application is aborting.")) << message.toStdString();
        EXPECT_FALSE(message.contains("Cannot load", Qt::CaseInsensitive)) << message.toStdString();
    }
}
