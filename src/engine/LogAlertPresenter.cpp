#include "engine/LogAlertPresenter.h"

#include "platform/log/Log.h"

namespace koru {

AlertPresenter::Response LogAlertPresenter::runModal(const Alert& alert) {
    log::warn("Alert: {} {}", alert.messageText.toStdString(), alert.informativeText.toStdString());
    return Response::Alternate;
}

} // namespace koru
