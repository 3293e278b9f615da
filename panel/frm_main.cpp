// The panel's form events, the exchange tick and the motion commands.
// Every handler returns at once while the program is ending.
#include "frm_main.h"

#include "frames.h"
#include "held_keys.h"
#include "indicator_button.h"
#include "lamp.h"
#include "motion_commands.h"
#include "number_text.h"
#include "panel_fonts.h"
#include "panel_layout.h"
#include "program_icon.h"
#include "program_message.h"
#include "screen_reader.h"
#include "spoken_notice.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace kvx {
namespace {

// The tick computes every text 33 times a second; a box is handed a text
// only when it changes, so that a screen reader hears of real changes only.
void showText(QLineEdit* box, const QString& text)
{
    if (box->text() != text)
        box->setText(text);
}

} // namespace

frmMain::frmMain(MotionState& state, UsbLink& link, ProgramEnd& end, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      state_(state), link_(link), end_(end)
{
    showMessage = [this](const QString& text) { showProgramMessage(text, this); };
    installScreenReaderSupport();
    setScreenReaderRole(this, QAccessible::Window);
    installFontSubstitutes();
    setWindowTitle(QStringLiteral("KVX-340 Stepper Motor Control Panel"));
    setWindowIcon(programIcon());
    setFont(msSansSerif(9.75, Weight::Regular));
    setFixedSize(layout::toPixels(layout::ClientWidth), layout::toPixels(layout::ClientHeight));
    heldKeys_ = new HeldKeys(this);
    buildControls();
    arrangeTabOrder();
    connectHandlers();
}

frmMain::~frmMain()
{
    // Nor may a key's release, or the loss of the keyboard as windows go.
    delete heldKeys_;
    // A button still held down comes up as it is destroyed, after this
    // window has stopped being a panel: its release must not reach us.
    for (QPushButton* button : {Command1, Command2})
        button->disconnect(this);
    delete Text3;
}

void frmMain::connectHandlers()
{
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(Go, &QPushButton::clicked, this, &frmMain::Go_Click);
    connect(Command7, &QPushButton::clicked, this, &frmMain::Command7_Click);
    connect(Slider1, &PanelSlider::changedByOperator, this, &frmMain::Slider1_Click);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    connectAccessiblePress(Command1, state_.StopFlag);
    connectAccessiblePress(Command2, state_.ZeroFlag);
    // Every control: Escape reaches the panel whichever of them has the focus.
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        control->installEventFilter(this);
}

void frmMain::Form_Load()
{
    loaded_ = true;
    if (end_.isEnding())
        return;
    TargetPosition = 0;
    Text2->setText(generalForm(TargetPosition));
    state_.PositionModeFlag = 0;
    Label10->setText(state_.AxisCaption);
    Timer1->start();
}

void frmMain::Form_Activate()
{
    activated_ = true;
    if (end_.isEnding())
        return;
    state_.EnableFlag = CommandBit::Enable;
    Text1->setText(QStringLiteral("0"));
    Text2->setText(QStringLiteral("0"));
    Text3->setText(QStringLiteral("0"));
}

void frmMain::Form_Unload()
{
    if (end_.isEnding())
        return;
    closeDeviceAndEnd();
}

void frmMain::cmdExit_Click()
{
    if (end_.isEnding())
        return;
    closeDeviceAndEnd();
}

void frmMain::closeDeviceAndEnd()
{
    Timer1->stop();
    try {
        link_.SI_Close(state_.DeviceHandle);
    } catch (const LinkUnavailable&) {
        // A close that fails goes unnoticed: the program ends regardless.
    }
    end_.endNow();
}

void frmMain::Timer1_Timer()
{
    if (end_.isEnding())
        return;
    const TickResult result = runExchange(state_, sliderValues(), TargetPosition, link_);
    if (result.failed) {
        // A modal box does not stop Qt's timers: without this, a lost link
        // would stack a new box every tick.
        Timer1->stop();
        end_.abortWith(result.failureMessage);
        return;
    }
    showDisplay(result.display);
}

SliderValues frmMain::sliderValues() const
{
    return {Slider1->value(), Slider2->value(), Slider3->value(), Slider4->value(), Slider5->value()};
}

void frmMain::showDisplay(const PanelDisplay& display)
{
    showText(Text1, display.Text1);
    showText(Text3, display.Text3);
    showStatus(display.alerts, false);
}

// An element is redrawn, described anew and spoken only when its state
// changes (or when forced, for the panel's first look). The description
// carries the state words before the tooltip, which a screen reader
// otherwise reads as the description.
void frmMain::showStatus(const IndicatorAlerts& alerts, bool force)
{
    QStringList spoken;
    for (const StatusView& view : statusViews_) {
        const bool alert = isAlert(alerts, view.element);
        if (!force && alert == isAlert(shownAlerts_, view.element))
            continue;
        view.show(alert);
        const QString words = statusWords(view.element, alert);
        const QString tip = view.widget->toolTip();
        view.widget->setAccessibleDescription(tip.isEmpty() ? words : words + QStringLiteral(". ") + tip);
        if (!force && isSpokenOnChange(view.element))
            spoken << words;
    }
    shownAlerts_ = alerts;
    if (!spoken.isEmpty())
        notice_->say(spoken.join(QStringLiteral(". ")));
}

// The status looks drawn in the system's colours are drawn anew in the new
// ones; states, words and notices stay as they are.
void frmMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        for (const StatusView& view : statusViews_)
            view.show(isAlert(shownAlerts_, view.element));
    QWidget::changeEvent(event);
}

bool frmMain::positionEntry()
{
    const std::optional<PositionEntry> entry = readPositionEntry(Text2->text(), state_.Demultiplication);
    if (!entry) {
        refuse(positionOutOfRangeMessage(state_.Demultiplication));
        return false;
    }
    Text2->setText(entry->text);
    TargetPosition = entry->targetPosition;
    return true;
}

// A held key's release goes to the box while it is open; heldKeys_ still
// ends the command the key holds, so no flag outlives the operator's key.
void frmMain::refuse(const QString& message) { showMessage(message); }

void frmMain::Form_KeyDown(int keyCode)
{
    if (keyCode == Qt::Key_Escape)
        Command1_MouseDown();
}

void frmMain::Form_KeyUp(int keyCode)
{
    if (keyCode == Qt::Key_Escape)
        Command1_MouseUp();
}

void frmMain::Command1_KeyDown() { Command1_MouseDown(); }

void frmMain::Command1_KeyUp() { Command1_MouseUp(); }

void frmMain::Command1_MouseDown()
{
    if (end_.isEnding())
        return;
    pressStop(state_);
    Slider1->setValue(0);
}

void frmMain::Command1_MouseUp()
{
    if (!end_.isEnding())
        releaseStop(state_);
}

void frmMain::Command2_KeyDown() { Command2_MouseDown(); }

void frmMain::Command2_KeyUp() { Command2_MouseUp(); }

void frmMain::Command2_MouseDown()
{
    if (!end_.isEnding())
        pressZero(state_);
}

void frmMain::Command2_MouseUp()
{
    if (!end_.isEnding())
        releaseZero(state_);
}

void frmMain::Command7_Click()
{
    if (!end_.isEnding())
        selectPositionMode(state_);
}

bool frmMain::Command7_KeyDown() { return Command7_MouseDown(); }

void frmMain::Command7_KeyUp() { Command7_MouseUp(); }

bool frmMain::Command7_MouseDown()
{
    if (end_.isEnding())
        return true;
    if (!positionEntry())
        return false;
    holdRelative(state_);
    return true;
}

void frmMain::Command7_MouseUp()
{
    if (!end_.isEnding())
        releaseRelative(state_);
}

void frmMain::Go_Click()
{
    if (!end_.isEnding())
        selectPositionMode(state_);
}

bool frmMain::Go_MouseDown()
{
    if (end_.isEnding())
        return true;
    if (!positionEntry())
        return false;
    holdGo(state_);
    return true;
}

void frmMain::Go_MouseUp()
{
    if (!end_.isEnding())
        releaseGo(state_);
}

bool frmMain::Text2_KeyDown() { return Go_MouseDown(); }

void frmMain::Text2_KeyUp() { Go_MouseUp(); }

void frmMain::Slider1_Click()
{
    if (!end_.isEnding())
        selectJogMode(state_);
}

} // namespace kvx
