#pragma once

#include "platform/archive/KeyedArchive.h"
#include "platform/notifications/NotificationCenter.h"

#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

// The base of every instrument model: one trace or one measurement of an instrument window.
// It carries the title, a UUID identifier, notes, an icon, a pause flag, its own lock and the
// cached channel names of the audio device. Models are archived under "title", "identifier" and
// "notes" plus the subclass's keys.
//
// Two-phase construction, as for the controllers: a subclass's decoding relies on overrides
// (twoChannelInstrument), so a model is constructed, then initialised with initWithName (new) or
// initWithCoder (decoded); create() and registerArchiveClass() do both.
//
// Threads: the collector thread calls shouldCollect and collect; everything else runs on the
// main thread. The base never takes its own lock; subclasses guard what collect writes and the
// views read with lock()/unlock().
class KOInstrumentWrapper : public QObject, public koru::platform::Archivable {
    Q_OBJECT
public:
    static constexpr const char* kTitleKey = "title";
    static constexpr const char* kIdentifierKey = "identifier";
    static constexpr const char* kNotesKey = "notes";

    KOInstrumentWrapper();
    ~KOInstrumentWrapper() override;
    KOInstrumentWrapper(const KOInstrumentWrapper&) = delete;
    KOInstrumentWrapper& operator=(const KOInstrumentWrapper&) = delete;

    // A new model of class T titled `title`.
    template <typename T> static std::unique_ptr<T> create(const QString& title) {
        auto model = std::make_unique<T>();
        model->initWithName(title);
        return model;
    }
    // Makes archives of class T readable under `className` (T's archiveClassName).
    template <typename T> static void registerArchiveClass(const QString& className) {
        koru::platform::KeyedUnarchiver::registerClass(
            className, [](koru::platform::KeyedUnarchiver& coder) {
                auto model = std::make_unique<T>();
                model->initWithCoder(coder);
                return std::unique_ptr<koru::platform::Archivable>(std::move(model));
            });
    }

    // Second phases. initWithCoder throws std::invalid_argument when the archive has no
    // "identifier"; subclasses override it to read their keys after calling the base.
    virtual void initWithName(const QString& title);
    virtual void initWithCoder(koru::platform::KeyedUnarchiver& coder);
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // "" when none is set.
    QString title() const;
    void setTitle(const QString& title);
    // Made on the first request when none is set; never changes after, except for a pasted or
    // dropped copy that lands beside a model with the same identifier.
    QString identifier() const;
    void assignFreshIdentifier();
    QString notes() const;
    void setNotes(const QString& notes);
    // Main thread only.
    QIcon icon() const { return mIcon; }
    void setIcon(const QIcon& icon);

    virtual bool pauseable() const { return false; }
    bool pause() const { return pauseable() && mPause.load(std::memory_order_acquire); }
    virtual void setPause(bool pause);

    // The audio device's channel names, cached on first use.
    QStringList availableInputChannels();
    // Observer of "KORUNOT.reloadAudioProp": drops the cache when the names changed, or when it
    // was never filled, and tells observers to read them again.
    void audioPropertiesChanged();

    // Collector thread.
    virtual bool shouldCollect() { return false; }
    virtual void collect() {}
    virtual void reset() {}

    void lock() { mLock.lock(); }
    void unlock() { mLock.unlock(); }
    std::mutex& modelLock() { return mLock; }

    // The hash of the identifier; two models with one identifier hash alike but stay distinct
    // objects (equality is identity).
    size_t hash() const;

signals:
    void availableInputChannelsChanged();
    void titleChanged(const QString& title);
    void iconChanged();

private:
    void observeAudioProperties();

    std::atomic<bool> mPause{false};
    mutable QString mIdentifier;
    QString mTitle;
    QIcon mIcon;
    std::optional<QStringList> mInputChannels;
    std::mutex mLock;
    mutable std::mutex mNotesLock; // guards mNotes
    QString mNotes;
    koru::platform::ObserverToken mAudioObserver;
};
