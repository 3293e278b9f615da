#include "frm_select.h"

#include "device_combo_box.h"
#include "device_list.h"
#include "ratio.h"
#include "screen_reader.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

namespace kvx {
namespace {


// The form is laid out in twips; 15 of them make a pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return {qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0), qRound(height / 15.0)};
}

// Qt has no role for the colour of inactive caption text. The classic
// Windows scheme paints it RGB 212,208,200, a light grey that sets the
// read-only reciprocal apart from the white entry box.
const QColor InactiveCaptionText(212, 208, 200);

// The captions were sized for Windows' default dialog font, MS Sans Serif
// 8 pt. Where it is missing, a face with similar metrics stands in, or the
// longer captions would be cut off.
QFont dialogFont()
{
    const QString family = QStringLiteral("MS Sans Serif");
    if (QFont::substitutes(family).isEmpty())
        QFont::insertSubstitutions(family, {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                            QStringLiteral("DejaVu Sans")});
    QFont font(family);
    font.setPointSize(8);
    return font;
}

template <class Control>
Control* place(QWidget* parent, const QString& caption, const QRect& geometry)
{
    auto* control = new Control(caption, parent);
    control->setGeometry(geometry);
    return control;
}

QPushButton* placeButton(QWidget* parent, const QString& caption, const QRect& geometry)
{
    auto* button = place<QPushButton>(parent, caption, geometry);
    // Without a default button Enter still presses the focused button, as a
    // push button does on Windows; nothing else reacts to Enter.
    button->setAutoDefault(true);
    return button;
}

bool isEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

} // namespace

frmSelect::frmSelect(MotionState& state, UsbLink& link, ProgramEnd& end, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      state_(state), link_(link), end_(end)
{
    installScreenReaderSupport();
    setScreenReaderRole(this, QAccessible::Window);
    setWindowTitle(QStringLiteral("Select Device"));
    setFont(dialogFont());
    // Sizable, but without a layout: resizing moves no control.
    resize(twips(0, 0, 4515, 5220).size());
    createControls();
    connectHandlers();
    cmbDevice->setFocus();
}

void frmSelect::createControls()
{
    // Created in tab order; the chain is set explicitly below all the same.
    cmbDevice = new DeviceComboBox(this);
    cmbDevice->setGeometry(twips(1800, 240, 2295, 315));
    Label1 = place<QLabel>(this, QStringLiteral("Device:"), twips(1080, 240, 735, 255));
    cmdOK = placeButton(this, QStringLiteral("OK"), twips(1680, 4440, 1095, 375));
    cmdCancel = placeButton(this, QStringLiteral("Cancel"), twips(3120, 4440, 1095, 375));
    Text1 = place<QLineEdit>(this, QStringLiteral("Text1"), twips(2640, 960, 1455, 315));
    Text1->setReadOnly(true);
    QPalette locked = Text1->palette();
    locked.setColor(QPalette::Base, InactiveCaptionText);
    Text1->setPalette(locked);
    Label2 = place<QLabel>(this, QStringLiteral("Demultiplication"), twips(1320, 960, 1215, 255));
    Check3 = place<QCheckBox>(this, QStringLiteral("Limit Switch Active on HI"), twips(1920, 3840, 2175, 375));
    Check2 = place<QCheckBox>(this, QStringLiteral("Reverse Limit Switch"), twips(1920, 3360, 2175, 375));
    Check1 = place<QCheckBox>(this, QStringLiteral("Reverse Motor Direction"), twips(1920, 2880, 2175, 375));
    Command1 = placeButton(this, QStringLiteral("1:1"), twips(2640, 2160, 1455, 375));
    Command3 = placeButton(this, QStringLiteral("Enter Your Own"), twips(2640, 1680, 1455, 375));
    Text2 = place<QLineEdit>(this, QStringLiteral("Text2"), twips(960, 1680, 1455, 375));

    // Screen readers name each box after the label beside it; "Enter Your
    // Own" at the entry's side is a button, so the entry is named outright.
    Label1->setBuddy(cmbDevice);
    Label2->setBuddy(Text1);
    cmbDevice->setAccessibleName(QStringLiteral("Device"));
    cmbDevice->lineEdit()->setAccessibleName(QStringLiteral("Device"));
    Text2->setAccessibleName(QStringLiteral("Gear ratio"));

    const QList<QWidget*> tabOrder{cmbDevice, cmdOK, cmdCancel, Text1, Check3,
                                   Check2, Check1, Command1, Command3, Text2};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void frmSelect::connectHandlers()
{
    connect(cmdOK, &QPushButton::clicked, this, &frmSelect::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSelect::cmdCancel_Click);
    connect(Command1, &QPushButton::clicked, this, &frmSelect::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &frmSelect::Command3_Click);
    cmdOK->installEventFilter(this);
    Text2->installEventFilter(this);
}

void frmSelect::setShowPanel(std::function<void()> showPanel) { showPanel_ = std::move(showPanel); }

void frmSelect::loadAndShow()
{
    Form_Load();
    if (!end_.isEnding())
        show();
}

bool frmSelect::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == cmdOK && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
                             type == QEvent::MouseButtonRelease)) {
        if (type != QEvent::MouseButtonRelease)
            cmdOK_MouseDown();
        // Only the primary button belongs to the button itself.
        return static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton;
    }
    if (watched == Text2 && type == QEvent::KeyPress)
        Text2_KeyDown(static_cast<QKeyEvent*>(event)->key()); // the edit box still gets the key
    return QWidget::eventFilter(watched, event);
}

void frmSelect::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (end_.isEnding() || handedOver_)
        return;
    end_.endNow();
}

void frmSelect::guarded(const std::function<void()>& handler)
{
    if (end_.isEnding())
        return;
    try {
        handler();
    } catch (const LinkUnavailable& e) {
        hide();
        end_.abortWith(QString::fromUtf8(e.what()));
    }
}

void frmSelect::Form_Load()
{
    guarded([this] {
        if (!ListDevices()) {
            hide();
            end_.abortWith(noDeviceMessage());
            return;
        }
        Text2->setText(QStringLiteral("15"));
        ApplyRatio();
    });
}

bool frmSelect::ListDevices()
{
    cmbDevice->clear();
    const DeviceListing listing = listDevices(link_, state_);
    cmbDevice->addItems(listing.entries);
    cmbDevice->setCurrentIndex(listing.found ? 0 : -1);
    return listing.found;
}

int frmSelect::ListIndex() const { return cmbDevice->chosenIndex(); }

void frmSelect::cmdOK_Click()
{
    guarded([this] {
        const int index = ListIndex();
        const uint32_t device = index < 0 ? NoDevice : static_cast<uint32_t>(index);
        if (!openDevice(link_, state_, device)) {
            hide();
            end_.abortWith(openFailureMessage(cmbDevice->currentText()));
            return;
        }
        storeDriveOptions();
        state_.AxisCaption = cmbDevice->currentText().right(1);
        ApplyRatio();
        hide();
        handedOver_ = true;
        if (showPanel_)
            showPanel_();
    });
}

void frmSelect::storeDriveOptions()
{
    state_.ReverseMotorFlag = Check1->isChecked() ? 4 : 0;
    state_.ReverseLimitFlag = Check2->isChecked() ? 2 : 0;
    state_.LimitActiveHighFlag = Check3->isChecked() ? 1 : 0;
}

void frmSelect::cmdOK_MouseDown()
{
    guarded([this] { Text1->setText(plainNumberOrOne(Text1->text())); });
}

void frmSelect::cmdCancel_Click()
{
    guarded([this] { end_.endNow(); });
}

void frmSelect::Command1_Click()
{
    guarded([this] {
        Text2->setText(QStringLiteral("1"));
        ApplyRatio();
    });
}

void frmSelect::Command3_Click()
{
    guarded([this] { ApplyRatio(); });
}

void frmSelect::Text2_KeyDown(int key)
{
    guarded([this, key] {
        if (!isEnterKey(key))
            return;
        Text2->setText(plainNumberOrOne(Text2->text()));
        ApplyRatio();
    });
}

void frmSelect::ApplyRatio()
{
    const AppliedRatio ratio = applyRatio(Text2->text());
    state_.Demultiplication = ratio.demultiplication;
    Text2->setText(ratio.ratioText);
    Text1->setText(ratio.reciprocalText);
}

} // namespace kvx
