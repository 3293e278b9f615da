// The start-up dialog: the operator picks the controller, the gear ratio and
// the drive options, then confirms or gives up. A plain top-level widget, not
// a QDialog: Escape must do nothing and Enter must reach the focused control.
#pragma once

#include "device_combo_box.h"
#include "motion_state.h"
#include "program_end.h"
#include "usb_link.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kvx {

class frmSelect : public QWidget {
    Q_OBJECT

public:
    frmSelect(MotionState& state, UsbLink& link, ProgramEnd& end, QWidget* parent = nullptr);

    // Called once the controller is open and the dialog has hidden itself.
    void setShowPanel(std::function<void()> showPanel);

    // Program start: lists the controllers, and shows the dialog unless that
    // ended the program (the dialog is then never seen).
    void loadAndShow();

    // Event handlers, named after the control and the event.
    void Form_Load();
    void cmdOK_Click();
    void cmdOK_MouseDown();
    void cmdCancel_Click();
    void Command1_Click();
    void Command3_Click();
    void Text2_KeyDown(int key);

    // Fills cmbDevice, one entry per controller, the first selected; false
    // when there is no controller to offer.
    bool ListDevices();
    // Reads Text2, corrects it and puts the ratio into force.
    void ApplyRatio();
    // The selected entry's position, or -1. The combo box is editable: once
    // the operator has typed into it no entry counts as selected, until one
    // is chosen from the list or with the arrow keys.
    int ListIndex() const;

    // The controls, as named on the form.
    DeviceComboBox* cmbDevice = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label2 = nullptr;
    QCheckBox* Check3 = nullptr;
    QCheckBox* Check2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command3 = nullptr;
    QLineEdit* Text2 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void connectHandlers();
    // Runs a handler; a USB library that cannot be used ends the program.
    void guarded(const std::function<void()>& handler);
    void storeDriveOptions();

    MotionState& state_;
    UsbLink& link_;
    ProgramEnd& end_;
    std::function<void()> showPanel_;
    // Hidden for good once the panel has taken over: a close request that
    // still reaches the hidden dialog (Windows' polite termination sends
    // one to every window of the program) is the panel's to answer.
    bool handedOver_ = false;
};

} // namespace kvx
