#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// An incremental digest. The base digests nothing and has no answer.
class VEDigestCalculator {
public:
    virtual ~VEDigestCalculator() = default;
    virtual void pushData(const QByteArray&) {}
    virtual void pushString(const QString&) {}
    virtual void pushBuffer(const void*, std::uint32_t) {}
    virtual std::optional<QString> digestString() { return std::nullopt; }
};
