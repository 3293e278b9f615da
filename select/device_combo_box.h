// The editable device list. Qt quietly selects the entry whose text matches
// what was typed once the edit is finished; an operator who types a name has
// not chosen an entry, so here only a choice from the list or with the arrow
// keys (or the wheel) selects one, and any typing unselects.
#pragma once

#include <QComboBox>

namespace kvx {

class DeviceComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DeviceComboBox(QWidget* parent = nullptr);

    // The chosen entry's position, or -1 once the operator has typed.
    int chosenIndex() const { return typedOver_ ? -1 : currentIndex(); }

    void showPopup() override;
    void hidePopup() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void takeActivation();

    bool typedOver_ = false;
    // Set while an activation can only come from the operator's choice:
    // a list key or the wheel being handled, or the list being open.
    bool choosing_ = false;
    bool popupChoice_ = false;
};

} // namespace kvx
