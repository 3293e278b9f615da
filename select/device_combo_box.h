// The editable device list. Qt selects the entry whose text matches what
// was typed once the edit is finished (also when the list is opened); an
// operator who types a name has not chosen an entry, so here only a choice
// from the list (a click, or Enter on a highlighted row), the arrow and page
// keys or the wheel select one, and any typing unselects.
#pragma once

#include <QComboBox>

namespace kvx {

class DeviceComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DeviceComboBox(QWidget* parent = nullptr);

    // The chosen entry's position, or -1 once the operator has typed.
    int chosenIndex() const { return typedOver_ ? -1 : currentIndex(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeActivation(int index);

    bool typedOver_ = false;
    // Set while a list key or the wheel is being handled.
    bool choosing_ = false;
    // The row that a click or Enter in the open list picked, until the
    // activation that follows it.
    int pickedRow_ = -1;
};

} // namespace kvx
