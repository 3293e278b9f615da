// The control panel window. It only builds its controls and translates
// Qt's events into the handlers named after control and event; what the
// handlers do to the motion request state lives in motion_commands.h and
// the exchange tick in exchange.h.
#pragma once

#include "exchange.h"
#include "motion_state.h"
#include "panel_slider.h"
#include "program_end.h"
#include "status_words.h"
#include "usb_link.h"

#include <QWidget>
#include <functional>
#include <set>
#include <vector>

class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kvx {

class HeldKeys;
class IndicatorButton;
class Lamp;
class OutlineMarker;
class SpokenNotice;

class frmMain : public QWidget {
    Q_OBJECT
public:
    frmMain(MotionState& state, UsbLink& link, ProgramEnd& end, QWidget* parent = nullptr);
    ~frmMain() override;

    // The requested position in motor steps: the absolute target of Go,
    // or the distance of a relative move.
    double TargetPosition = 0;

    // Shows a refusal to the operator; modal. Tests replace it.
    std::function<void(const QString&)> showMessage;

    // Form events. Form_Load runs on the first show and Form_Activate on
    // the first activation; both run once on their own, and can be called.
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void Timer1_Timer();
    // Escape held anywhere on the panel is STOP held: the one stop key an
    // operator finds without looking.
    void Form_KeyDown(int keyCode);
    void Form_KeyUp(int keyCode);

    // Control events.
    void cmdExit_Click();
    void Command1_KeyDown();
    void Command1_KeyUp();
    void Command1_MouseDown();
    void Command1_MouseUp();
    void Command2_KeyDown();
    void Command2_KeyUp();
    void Command2_MouseDown();
    void Command2_MouseUp();
    void Command7_Click();
    bool Command7_KeyDown();
    void Command7_KeyUp();
    bool Command7_MouseDown();
    void Command7_MouseUp();
    void Go_Click();
    bool Go_MouseDown();
    void Go_MouseUp();
    bool Text2_KeyDown();
    void Text2_KeyUp();
    void Slider1_Click();

    // The controls, named as on the form.
    QPushButton* cmdExit = nullptr;
    PanelSlider* Slider1 = nullptr;
    QGroupBox* Frame7 = nullptr;
    QPushButton* Go = nullptr;
    QLabel* Picture1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QLineEdit* Text3 = nullptr; // never shown, and so in no window
    PanelSlider* Slider2 = nullptr;
    PanelSlider* Slider3 = nullptr;
    PanelSlider* Slider4 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    IndicatorButton* Command6 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    IndicatorButton* Command3 = nullptr;
    QPushButton* Command7 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label9 = nullptr;
    PanelSlider* Slider5 = nullptr;
    Lamp* Shape3 = nullptr;
    Lamp* Shape4 = nullptr;
    Lamp* Shape2 = nullptr;
    OutlineMarker* Shape1 = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One status element: its widget, and how the widget shows the state.
    struct StatusView {
        StatusElement element;
        QWidget* widget;
        std::function<void(bool alert)> show;
    };

    void buildControls();
    void buildSliders();
    void buildIndicators();
    void arrangeTabOrder();
    void connectHandlers();

    bool stopKey(QEvent* event);
    bool buttonEvent(QObject* button, QEvent* event);
    void heldButtonKey(QObject* button, QEvent* event);
    void connectAccessiblePress(QPushButton* button, const uint8_t& flag);
    bool mouseDown(QObject* button);
    void mouseUp(QObject* button);
    bool command7Key(QEvent* event);
    bool text2Key(QEvent* event);
    bool commandKeyDown(const QKeyEvent* key, bool (frmMain::*keyDown)(), void (frmMain::*keyUp)(),
                        void (*holdAgain)(MotionState&));
    void slider1Mouse(QEvent* event);

    bool positionEntry();
    void refuse(const QString& message);
    SliderValues sliderValues() const;
    void showDisplay(const PanelDisplay& display);
    void showStatus(const IndicatorAlerts& alerts, bool force);
    void closeDeviceAndEnd();

    MotionState& state_;
    UsbLink& link_;
    ProgramEnd& end_;
    bool loaded_ = false;
    bool activated_ = false;
    bool slider1Armed_ = false;
    HeldKeys* heldKeys_ = nullptr;
    // Whether a refusal has already answered the press that a repeat belongs to.
    bool keyPressRefused_ = false;
    // The buttons held by a screen reader's press action alone, each until
    // its own release.
    std::set<QObject*> accessiblePresses_;
    std::vector<StatusView> statusViews_;
    IndicatorAlerts shownAlerts_;
    SpokenNotice* notice_ = nullptr;
};

} // namespace kvx
