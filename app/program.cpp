#include "program.h"

#include "frm_main.h"
#include "frm_select.h"
#include "screen_reader.h"

#include <QCoreApplication>

namespace kvx {

Program::Program(UsbLink& link) : link_(link) { installScreenReaderSupport(); }

Program::~Program() = default;

bool Program::start()
{
    select_ = std::make_unique<frmSelect>(state_, link_, end_);
    select_->setShowPanel([this] { showPanel(); });
    select_->loadAndShow();
    return !end_.isEnding();
}

void Program::endOnSignal()
{
    if (end_.isEnding())
        end_.closeMessage();
    else if (panel_)
        panel_->Form_Unload();
    else if (select_)
        select_->cmdCancel_Click();
}

void Program::followSessionEnd()
{
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &session_, [this] {
        if (!ended())
            endOnSignal();
    });
}

void Program::showPanel()
{
    panel_ = std::make_unique<frmMain>(state_, link_, end_);
    panel_->show();
}

} // namespace kvx
