#pragma once

#include <QString>

#include <stdexcept>

namespace koru::platform {

// A named exception with a reason, as the model classes raise them for their callers to catch
// by name (a range error, a refused property). what() gives "name: reason".
class FrameworkException : public std::runtime_error {
public:
    FrameworkException(const QString& name, const QString& reason)
        : std::runtime_error((name + QStringLiteral(": ") + reason).toStdString()), m_name(name),
          m_reason(reason) {}

    const QString& name() const { return m_name; }
    const QString& reason() const { return m_reason; }

private:
    QString m_name;
    QString m_reason;
};

} // namespace koru::platform
