#pragma once

#include <QString>
#include <QVariantMap>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class KOAuxInput;

namespace koru {

// The three auxiliary inputs the audio device can hold, one of each.
enum class AuxInputKind { FilePlayer, NetReceive, SignalGenerator };

inline constexpr std::array<AuxInputKind, 3> kAuxInputKinds = {
    AuxInputKind::FilePlayer, AuxInputKind::NetReceive, AuxInputKind::SignalGenerator};

// The window controller that owns an auxiliary input (its engine-side source). The concrete
// controllers live with their windows; the audio device only attaches, saves and shows them.
// Destroying the wrapper deletes its input, so the device detaches the input first.
class AuxInputWrapper {
public:
    virtual ~AuxInputWrapper() = default;
    virtual KOAuxInput* auxInput() = 0;
    virtual void showWindow(const void* sender) = 0;
    // Carries "KOType" with the wrapper's class name.
    virtual QVariantMap dictionaryRepresentation() const = 0;
};

// How the device makes a wrapper of one kind: fresh, or restored from its dictionary. Either
// may throw; a missing function means the kind is not available in this program.
struct AuxInputWrapperFactory {
    std::function<std::unique_ptr<AuxInputWrapper>()> create;
    std::function<std::unique_ptr<AuxInputWrapper>(const QVariantMap&)> createWithDictionary;
};

// The factory of a wrapper kind made by its own make(services) and
// makeWithDictionary(dictionary, services).
template <typename Wrapper>
AuxInputWrapperFactory auxInputWrapperFactory(typename Wrapper::Services services) {
    AuxInputWrapperFactory made;
    made.create = [services]() -> std::unique_ptr<AuxInputWrapper> {
        return Wrapper::make(services);
    };
    made.createWithDictionary =
        [services](const QVariantMap& dictionary) -> std::unique_ptr<AuxInputWrapper> {
        return Wrapper::makeWithDictionary(dictionary, services);
    };
    return made;
}

// "KOType" of each kind's dictionary.
inline QString auxInputTypeName(AuxInputKind kind) {
    switch (kind) {
    case AuxInputKind::FilePlayer:
        return QStringLiteral("KOAuxFilePlayerWrapper");
    case AuxInputKind::NetReceive:
        return QStringLiteral("KOAuxNetReceiveWrapper");
    case AuxInputKind::SignalGenerator:
        return QStringLiteral("KOSignalGeneratorWrapper");
    }
    return {};
}

inline std::optional<AuxInputKind> auxInputKindForTypeName(const QString& type) {
    for (const AuxInputKind kind : kAuxInputKinds) {
        if (auxInputTypeName(kind) == type) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace koru
