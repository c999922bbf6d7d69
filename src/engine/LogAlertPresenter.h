#pragma once

#include "engine/AlertPresenter.h"

namespace koru {

// Alerts where nobody can answer them (no desktop wired in): each is logged as a warning and
// answered with the alternate response, so an alert that offers to quit never ends a program
// that nobody watches.
class LogAlertPresenter : public AlertPresenter {
public:
    Response runModal(const Alert& alert) override;
};

} // namespace koru
