// A panel on a scripted library, with its refusals recorded instead of shown.
#pragma once

#include "frm_main.h"
#include "recording_end.h"
#include "scripted_link.h"

#include <QApplication>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace kvx::test {

class PanelTest : public ::testing::Test {
protected:
    PanelTest()
    {
        state.Demultiplication = 15;
        state.DeviceHandle = link.handleToGive;
        state.AxisCaption = QStringLiteral("X");
        panel.showMessage = [this](const QString& text) { shownMessages << text; };
    }

    // Loads and activates the panel; the real timer is stopped so that
    // ticks happen only when a test asks for one.
    void open()
    {
        panel.show();
        QApplication::processEvents();
        panel.Timer1->stop();
    }

    // A test whose expectation of a write failed goes on: it reads an empty
    // frame then, never past the end of the list.
    Frame lastFrame() const
    {
        if (link.written.empty()) {
            ADD_FAILURE() << "no frame was written";
            return {};
        }
        return link.written.back();
    }

    MotionState state;
    ScriptedLink link;
    RecordingEnd end;
    frmMain panel{state, link, end};
    QStringList shownMessages;
};

} // namespace kvx::test
