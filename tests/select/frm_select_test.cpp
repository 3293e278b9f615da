#include "frm_select.h"
#include "exchange.h"
#include "frames.h"
#include "recording_end.h"
#include "scripted_link.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <vector>

using kvx::frmSelect;

// Readable QString values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

const QString NoDeviceMessage = QStringLiteral("Error finding USB device. Aborting application.");
const QStringList ListingCalls{"SI_GetNumDevices", "SI_GetProductString", "SI_GetProductString"};

struct SelectDialog : ::testing::Test {
    kvx::MotionState state;
    kvx::test::ScriptedLink link;
    kvx::test::RecordingEnd end;
    std::unique_ptr<frmSelect> dialog;
    int panelShown = 0;

    void SetUp() override { link.products = {"A1", "B2"}; }

    frmSelect& load()
    {
        dialog = std::make_unique<frmSelect>(state, link, end);
        dialog->setShowPanel([this] { ++panelShown; });
        dialog->loadAndShow();
        return *dialog;
    }

    // Shows the loaded dialog as the active window, so keys reach its focus.
    void activate()
    {
        QApplication::setActiveWindow(dialog.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get(), 30000));
    }

    void typeOverDevice(const QString& text)
    {
        QLineEdit* edit = dialog->cmbDevice->lineEdit();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }

    void clickOK() { QTest::mouseClick(dialog->cmdOK, Qt::LeftButton); }
};

TEST_F(SelectDialog, OpensWithFirstControllerAndRatio15)
{
    frmSelect& d = load();
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(d.cmbDevice->count(), 2);
    EXPECT_EQ(d.cmbDevice->itemText(0), "A1");
    EXPECT_EQ(d.cmbDevice->itemText(1), "B2");
    EXPECT_EQ(d.ListIndex(), 0);
    EXPECT_EQ(d.cmbDevice->currentText(), "A1");
    EXPECT_EQ(d.Text2->text(), " 15");
    EXPECT_EQ(d.Text1->text(), "0.0666666667");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 15);
    for (QCheckBox* box : {d.Check1, d.Check2, d.Check3})
        EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(end.ends, 0);
}

TEST_F(SelectDialog, StandsAsAPlainSizableWindowInTwips)
{
    frmSelect& d = load();
    EXPECT_EQ(d.windowTitle(), "Select Device");
    EXPECT_FALSE(d.inherits("QDialog"));
    EXPECT_EQ(d.size(), QSize(301, 348));
    EXPECT_FALSE(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(d.cmbDevice->geometry(), QRect(120, 16, 153, 21));
    EXPECT_EQ(d.cmdCancel->geometry(), QRect(208, 296, 73, 25));
    EXPECT_EQ(d.Text2->geometry(), QRect(64, 112, 97, 25));
    EXPECT_TRUE(d.cmbDevice->isEditable());
    EXPECT_TRUE(d.Text1->isReadOnly());
    EXPECT_EQ(d.Text1->palette().color(QPalette::Base), QColor(212, 208, 200));

    d.resize(600, 700);
    EXPECT_EQ(d.cmdCancel->geometry(), QRect(208, 296, 73, 25));
}

TEST_F(SelectDialog, ScreenReadersNameEachBoxAfterTheLabelBesideIt)
{
    frmSelect& d = load();
    const auto name = [](QWidget* box) { return QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name); };
    EXPECT_EQ(d.Label1->buddy(), d.cmbDevice);
    EXPECT_EQ(d.Label2->buddy(), d.Text1);
    EXPECT_EQ(name(d.cmbDevice->lineEdit()), "Device");
    EXPECT_EQ(name(d.Text1), "Demultiplication");
    EXPECT_EQ(name(d.Text2), "Gear ratio");
    EXPECT_EQ(d.Label1->text(), "Device:") << "the captions stay as they are";
}

struct LoadFailure {
    const char* name;
    int16_t countStatus;
    bool noController;
    bool countMissing;
};

void PrintTo(const LoadFailure& f, std::ostream* out) { *out << f.name; }

class SelectLoadFailure : public SelectDialog, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(SelectLoadFailure, EndsWithMessageAndNeverShowsTheDialog)
{
    const LoadFailure& f = GetParam();
    link.countStatus = f.countStatus;
    if (f.noController)
        link.products.clear();
    if (f.countMissing)
        link.missing = {"SI_GetNumDevices"};
    frmSelect& d = load();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.cmbDevice->count(), 0);
    EXPECT_EQ(d.cmbDevice->currentIndex(), -1);
    ASSERT_EQ(end.messages.size(), 1);
    if (f.countMissing)
        EXPECT_EQ(end.messages[0], "The USB library SiUSBXp has no function SI_GetNumDevices.");
    else
        EXPECT_EQ(end.messages[0], NoDeviceMessage);
    EXPECT_EQ(end.ends, 1);
}

INSTANTIATE_TEST_SUITE_P(Causes, SelectLoadFailure, ::testing::Values(
    LoadFailure{"FailedCount", 2, false, false},
    LoadFailure{"NoController", 0, true, false},
    LoadFailure{"MissingFunction", 0, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SelectDialog, OkOpensTheChosenControllerAndHandsOver)
{
    frmSelect& d = load();
    d.cmbDevice->setCurrentIndex(1);
    clickOK();
    EXPECT_EQ(link.calls, ListingCalls + QStringList({"SI_SetTimeouts", "SI_Open"}));
    EXPECT_EQ(link.readTimeout, 10000u);
    EXPECT_EQ(link.writeTimeout, 10000u);
    EXPECT_EQ(link.openedDevice, 1u);
    EXPECT_EQ(state.DeviceHandle, link.handleToGive);
    EXPECT_EQ(state.LinkStatus, 0);
    EXPECT_EQ(state.AxisCaption, "2");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 15);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(panelShown, 1);
    EXPECT_EQ(end.ends, 0);
}

TEST_F(SelectDialog, TypedOverEntryOpensNoDeviceAndQuotesTheText)
{
    frmSelect& d = load();
    typeOverDevice("ABC");
    QTest::keyClick(d.cmbDevice->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(d.cmbDevice->count(), 2); // typing adds no entry
    EXPECT_EQ(d.ListIndex(), -1);
    link.openStatus = 4;
    clickOK();
    EXPECT_EQ(link.openedDevice, kvx::NoDevice);
    EXPECT_EQ(state.LinkStatus, 4);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(end.messages, QStringList(
        "Error opening device: ABC. Application is aborting. Reset hardware and try again."));
    EXPECT_EQ(panelShown, 0);
    EXPECT_FALSE(link.calls.contains("SI_Close"));
}

// Typing selects nothing, even the exact text of another entry once Qt
// has matched it on Return, on leaving the box or on opening the list; a
// pick in the list and the arrow keys choose.
TEST_F(SelectDialog, OnlyAChoiceFromTheListSelectsAnEntry)
{
    const auto leaveBox = [this] {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(dialog->cmbDevice, &out);
    };
    const auto returnKey = [this] { QTest::keyClick(dialog->cmbDevice, Qt::Key_Return); };
    const auto downKey = [this] { QTest::keyClick(dialog->cmbDevice, Qt::Key_Down); };
    const auto openList = [this] {
        dialog->cmbDevice->showPopup();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog->cmbDevice->view()->window(), 30000));
    };
    const auto escapeList = [this] { QTest::keyClick(dialog->cmbDevice->view(), Qt::Key_Escape); };
    const auto clickSecondRow = [this] {
        QAbstractItemView* list = dialog->cmbDevice->view();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
    };
    const auto enterOnSecondRow = [this] {
        QTest::keyClick(dialog->cmbDevice->view(), Qt::Key_Down);
        QTest::keyClick(dialog->cmbDevice->view(), Qt::Key_Return);
    };
    struct Case {
        const char* name;
        QString typed;
        std::vector<std::function<void()>> then;
        int index;
    };
    const Case cases[] = {
        {"another entry's text, then Return", "B2", {returnKey}, -1},
        {"another entry's text, then leaving", "B2", {leaveBox}, -1},
        {"the selected entry's own text", "A1", {returnKey, leaveBox}, -1},
        {"arrow key without typing", "", {downKey}, 1},
        {"arrow key after typing", "B", {downKey, leaveBox}, 1},
        {"another entry's text, the list opened and closed", "B2", {openList, escapeList, leaveBox}, -1},
        {"a click on a row after typing", "B", {openList, clickSecondRow}, 1},
        {"Enter on a highlighted row after typing", "B", {openList, enterOnSecondRow}, 1},
    };
    for (const Case& c : cases) {
        load();
        if (!c.typed.isEmpty())
            typeOverDevice(c.typed);
        for (const auto& step : c.then)
            step();
        EXPECT_EQ(dialog->ListIndex(), c.index) << c.name;
        clickOK();
        EXPECT_EQ(link.openedDevice, c.index < 0 ? kvx::NoDevice : uint32_t(c.index)) << c.name;
        end = {};
    }
}

TEST_F(SelectDialog, AxisCaptionIsTheLastCharacterOfTheText)
{
    const std::pair<QString, QString> cases[] = {{"Axis X", "X"}, {"", ""}};
    for (const auto& [text, caption] : cases) {
        load();
        typeOverDevice(text);
        clickOK(); // the scripted library opens even device -1
        EXPECT_EQ(state.AxisCaption, caption) << text.toStdString();
    }
}

TEST_F(SelectDialog, MissingOpenFunctionEndsWithItsMessage)
{
    load();
    link.missing = {"SI_Open"};
    clickOK();
    EXPECT_EQ(end.messages, QStringList("The USB library SiUSBXp has no function SI_Open."));
    EXPECT_EQ(panelShown, 0);
}

struct Options {
    bool check1, check2, check3;
    uint8_t reverseMotor, reverseLimit, activeHigh, optionsByte;
};

void PrintTo(const Options& o, std::ostream* out) { *out << int(o.optionsByte); }

class SelectOptions : public SelectDialog, public ::testing::WithParamInterface<Options> {};

TEST_P(SelectOptions, TickedBoxesBecomeOptionBytes)
{
    const Options& o = GetParam();
    frmSelect& d = load();
    d.Check1->setChecked(o.check1);
    d.Check2->setChecked(o.check2);
    d.Check3->setChecked(o.check3);
    clickOK();
    EXPECT_EQ(state.ReverseMotorFlag, o.reverseMotor);
    EXPECT_EQ(state.ReverseLimitFlag, o.reverseLimit);
    EXPECT_EQ(state.LimitActiveHighFlag, o.activeHigh);
    ASSERT_TRUE(kvx::composeCommandFrame(state, {}, 0));
    EXPECT_EQ(kvx::decodeCommandFrame(state.FrameBuffer.data()).OptionsByte, o.optionsByte);
}

INSTANTIATE_TEST_SUITE_P(Boxes, SelectOptions, ::testing::Values(
    Options{false, false, false, 0, 0, 0, 144},
    Options{true, true, true, 4, 2, 1, 151},
    Options{true, false, true, 4, 0, 1, 149},
    Options{false, true, false, 0, 2, 0, 146}),
    [](const auto& info) { return "Options" + std::to_string(info.param.optionsByte); });

TEST_F(SelectDialog, OkAppliesARatioThatWasTypedButNotApplied)
{
    frmSelect& d = load();
    d.Text2->setText("2.5 mm");
    clickOK();
    EXPECT_DOUBLE_EQ(state.Demultiplication, 2.5);
    EXPECT_EQ(d.Text2->text(), " 2.5");
    EXPECT_EQ(d.Text1->text(), "0.4000000000");
}

TEST_F(SelectDialog, PressOnOkRewritesTheReciprocalAsPlainText)
{
    frmSelect& d = load();
    QTest::mouseClick(d.Command1, Qt::LeftButton);
    EXPECT_EQ(d.Text1->text(), "1.0000000000");
    QTest::mousePress(d.cmdOK, Qt::RightButton);
    EXPECT_EQ(d.Text1->text(), "1");
    QTest::mouseRelease(d.cmdOK, Qt::RightButton);
    EXPECT_EQ(panelShown, 0); // no click from the right button

    QTest::mousePress(d.cmdOK, Qt::LeftButton);
    EXPECT_EQ(link.calls, ListingCalls);
    QTest::mouseRelease(d.cmdOK, Qt::LeftButton);
    EXPECT_EQ(d.Text1->text(), "1.0000000000");
    EXPECT_EQ(panelShown, 1);
}

TEST_F(SelectDialog, RatioButtons)
{
    frmSelect& d = load();
    QTest::mouseClick(d.Command1, Qt::LeftButton);
    EXPECT_EQ(d.Text2->text(), " 1");
    EXPECT_EQ(d.Text1->text(), "1.0000000000");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 1);

    d.Text2->setText("7");
    QTest::mouseClick(d.Command3, Qt::LeftButton);
    EXPECT_EQ(d.Text2->text(), " 7");
    EXPECT_EQ(d.Text1->text(), "0.1428571429");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 7);
}

TEST_F(SelectDialog, EnterInText2AppliesTheRatioAndDoesNotConfirm)
{
    frmSelect& d = load();
    activate();
    d.Text2->setFocus();
    d.Text2->setText("3");
    QTest::keyClick(d.Text2, Qt::Key_Return);
    EXPECT_EQ(d.Text2->text(), " 3");
    EXPECT_EQ(d.Text1->text(), "0.3333333333");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 3);

    d.Text2->setText("abc");
    QTest::keyClick(d.Text2, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(d.Text2->text(), " 1");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 1);

    EXPECT_EQ(link.calls, ListingCalls);
    EXPECT_EQ(panelShown, 0);
    EXPECT_TRUE(d.isVisible());
}

TEST_F(SelectDialog, OtherKeysInText2OnlyEdit)
{
    frmSelect& d = load();
    activate();
    d.Text2->setFocus();
    d.Text2->end(false);
    QTest::keyClicks(d.Text2, "0");
    EXPECT_EQ(d.Text2->text(), " 150");
    EXPECT_EQ(d.Text1->text(), "0.0666666667");
    EXPECT_DOUBLE_EQ(state.Demultiplication, 15);
}

TEST_F(SelectDialog, EscapeLeavesTheDialogOpen)
{
    frmSelect& d = load();
    activate();
    for (QWidget* w : {static_cast<QWidget*>(d.cmbDevice), static_cast<QWidget*>(d.Text2),
                       static_cast<QWidget*>(d.cmdOK)}) {
        w->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    }
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(end.ends, 0);
    EXPECT_EQ(panelShown, 0);
}

TEST_F(SelectDialog, EnterPressesOnlyTheFocusedButton)
{
    frmSelect& d = load();
    activate();
    d.Text2->setText("3");
    d.Command3->setFocus();
    QTest::keyClick(d.Command3, Qt::Key_Return);
    EXPECT_DOUBLE_EQ(state.Demultiplication, 3);
    EXPECT_EQ(panelShown, 0);

    d.cmdCancel->setFocus();
    QTest::keyClick(d.cmdCancel, Qt::Key_Return);
    EXPECT_EQ(end.ends, 1);
    EXPECT_EQ(panelShown, 0);
}

TEST_F(SelectDialog, TabRunsInTheFormsOrder)
{
    frmSelect& d = load();
    activate();
    EXPECT_EQ(QApplication::focusWidget(), d.cmbDevice);
    const QList<QWidget*> expected{d.cmdOK, d.cmdCancel, d.Text1, d.Check3, d.Check2,
                                   d.Check1, d.Command1, d.Command3, d.Text2, d.cmbDevice};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
}

TEST_F(SelectDialog, CancelAndCloseBoxEndWithoutFurtherCalls)
{
    frmSelect& d = load();
    QTest::mouseClick(d.cmdCancel, Qt::LeftButton);
    EXPECT_EQ(end.ends, 1);
    EXPECT_TRUE(end.messages.isEmpty());
    EXPECT_EQ(link.calls, ListingCalls);

    end.ends = 0;
    d.close();
    EXPECT_EQ(end.ends, 1);
    EXPECT_EQ(link.calls, ListingCalls);

    // Once the panel has taken over, a close request that reaches the hidden
    // dialog must not end the program behind the panel's back.
    end = {};
    load();
    clickOK();
    ASSERT_EQ(panelShown, 1);
    dialog->close();
    EXPECT_EQ(end.ends, 0);
}

TEST_F(SelectDialog, HandlersDoNothingOnceTheProgramIsEnding)
{
    frmSelect& d = load();
    end.endNow();
    QTest::mouseClick(d.Command1, Qt::LeftButton);
    clickOK();
    d.cmdCancel_Click();
    EXPECT_EQ(d.Text2->text(), " 15");
    EXPECT_EQ(link.calls, ListingCalls);
    EXPECT_EQ(panelShown, 0);
    EXPECT_EQ(end.ends, 1);
}

} // namespace
