#pragma once

#include "framework/KOInstrumentWrapper.h"

#include <memory>
#include <vector>

namespace koru::framework {

// The root object of an archived list of instrument models (saved window lists, the pasteboard).
class InstrumentModelArray : public koru::platform::Archivable {
public:
    using ModelPointer = std::shared_ptr<KOInstrumentWrapper>;

    static constexpr const char* kClassName = "InstrumentModelArray";
    static constexpr const char* kObjectsKey = "objects";

    explicit InstrumentModelArray(std::vector<ModelPointer> models = {})
        : mModels(std::move(models)) {}

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    const std::vector<ModelPointer>& models() const { return mModels; }

    QByteArray archivedData() const;
    // The models of an archive. An entry of an unknown class, or one a model refuses, is skipped
    // with a log line; unreadable bytes give an empty list.
    static std::vector<ModelPointer> modelsFromData(const QByteArray& data);

private:
    std::vector<ModelPointer> mModels;
};

} // namespace koru::framework
