#pragma once

#include <QString>

namespace koru::utility {

// A failure as the program reports it to the user: where it comes from (a domain and a code
// within it) and what to tell the user.
struct Error {
    QString domain;
    qint64 code = 0;
    QString description;
    QString recoverySuggestion;
};

} // namespace koru::utility
