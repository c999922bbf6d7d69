#include "meters/ui/KODeviceInPPMController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KeyboardModifierSource.h"
#include "meters/ui/KOMeterViews.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QSignalBlocker>
#include <QTableWidget>

#include <algorithm>

using koru::framework::KeyboardModifierSource;

namespace {
const QString kShowChannelKey = QStringLiteral("Meter.ShowChannel");
const QString kShowLabelsKey = QStringLiteral("Meter.ShowLabels");

constexpr qint64 kResetPeakTag = 1;
constexpr qint64 kRotateTag = 2;
constexpr qint64 kDrawLabelsTag = 3;
} // namespace

KODeviceInPPMController::KODeviceInPPMController() {
    mVisible.fill(true);
    mTimer.setInterval(kRefreshMilliseconds);
    connect(&mTimer, &QTimer::timeout, this,
            [this] { refreshMeters(KOAudioDevice::sharedAudioDevice().getKOAD()); });
}

KODeviceInPPMController::~KODeviceInPPMController() {
    mTimer.stop();
}

std::unique_ptr<QMainWindow> KODeviceInPPMController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mView = new KODeviceInPPMView(window.get());
    window->setCentralWidget(mView);
    window->resize(160, 300);
    connect(mView, &KODeviceInPPMView::clipResetRequested, this, [this] { resetAll(); });

    // The channel table is the settings panel's content.
    mTable = new QTableWidget(0, 2, window.get());
    mTable->hide();
    mTable->setHorizontalHeaderLabels({QStringLiteral("show"), QStringLiteral("name")});
    mTable->verticalHeader()->hide();
    mTable->horizontalHeader()->setStretchLastSection(true);
    mTable->setColumnWidth(kShowColumn, 40);
    mTable->resize(220, 240);
    connect(mTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() != kShowColumn) {
            return;
        }
        setShowsChannelFromTable(std::uint32_t(item->row()), item->checkState() == Qt::Checked,
                                 KeyboardModifierSource::current());
    });
    setControlViewController(mTable);

    KOInstrumentControlView* panel = mView->controlView();
    panel->setSize(QSizeF(54.0, 30.0));
    panel->addSettingsButtonAtPoint(QPointF(5.0, 3.0), this);
    panel->addRotationButtonAtPoint(QPointF(24.0, 3.0), this,
                                    [this](QWidget*) { toggleRotation(); });
    return window;
}

void KODeviceInPPMController::initWithWindowNibName(const QString& nibName,
                                                    const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    // A new window is titled with its kind until the user names it.
    if (name().isEmpty())
        setName(QStringLiteral("Input PPM"));
    if (dictionary != nullptr) {
        mShowLabels = dictionary->value(kShowLabelsKey).toBool();
        // Entry by entry: a shorter array changes only the channels it names.
        const QVariantList shown = dictionary->value(kShowChannelKey).toList();
        const auto count = std::min<qsizetype>(shown.size(), qsizetype(mVisible.size()));
        for (qsizetype k = 0; k < count; ++k) {
            if (shown[k].canConvert<bool>()) {
                mVisible[std::size_t(k)] = shown[k].toBool();
            }
        }
        if (std::none_of(mVisible.begin(), mVisible.end(), [](bool v) { return v; })) {
            mVisible[0] = true; // never a window of no meter
        }
    }
    if (mView) {
        mView->setDrawLabels(mShowLabels);
    }
    refreshMeters(KOAudioDevice::sharedAudioDevice().getKOAD());
    synchronizeWithAudioSettings();
    mTimer.start();
}

QVariantMap KODeviceInPPMController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    QVariantList shown;
    for (bool visible : mVisible) {
        shown.append(visible);
    }
    d.insert(kShowChannelKey, shown);
    d.insert(kShowLabelsKey, mShowLabels);
    return d;
}

QMenu* KODeviceInPPMController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Reset Peak"), this, [this](QAction*) { resetAll(); },
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), kResetPeakTag);
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Rotate"), this, [this](QAction*) { toggleRotation(); },
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), kRotateTag);
        QAction* labels = KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Draw Labels"), this, [this](QAction*) { toggleLabelDrawing(); },
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), kDrawLabelsTag);
        labels->setCheckable(true);
        labels->setChecked(mShowLabels);
        connect(&menu, &QMenu::aboutToShow, this, [this, labels] {
            const QSignalBlocker blocker(labels);
            labels->setChecked(mShowLabels);
        });
        menu.addSeparator();
    }
    return KOInstrumentController::instrumentMenu();
}

std::uint32_t KODeviceInPPMController::channelCount() const {
    // The channels of the engine whose levels the meters showed last.
    return mChannelCount;
}

std::size_t KODeviceInPPMController::visibleCount() const {
    const std::uint32_t count = std::max<std::uint32_t>(channelCount(), 1);
    return std::size_t(std::count(mVisible.begin(), mVisible.begin() + count, true));
}

bool KODeviceInPPMController::showsChannel(std::uint32_t channel) const {
    return channel < mVisible.size() && mVisible[channel];
}

void KODeviceInPPMController::setShowsChannel(std::uint32_t channel, bool show) {
    if (channel >= mVisible.size()) {
        return;
    }
    // Among the engine's channels, the last visible meter stays.
    const std::uint32_t count = std::max<std::uint32_t>(channelCount(), 1);
    if (!show && channel < count &&
        std::count(mVisible.begin(), mVisible.begin() + count, true) == 1 && mVisible[channel]) {
        return;
    }
    mVisible[channel] = show;
}

void KODeviceInPPMController::setShowsChannelFromTable(std::uint32_t row, bool show,
                                                       Qt::KeyboardModifiers modifiers) {
    const std::uint32_t count = std::max<std::uint32_t>(channelCount(), 1);
    if (row >= count || row >= mVisible.size()) {
        return;
    }
    if (!show && visibleCount() == 1) {
        reloadTable(); // the check box goes back on
        return;
    }
    if (modifiers & Qt::AltModifier) {
        std::fill(mVisible.begin(), mVisible.begin() + count, show);
        mVisible[row] = !show;
    } else {
        mVisible[row] = show;
    }
    synchronizeWithAudioSettings();
}

void KODeviceInPPMController::setShowsLabels(bool show) {
    mShowLabels = show;
    if (mView) {
        mView->setDrawLabels(show);
    }
}

void KODeviceInPPMController::toggleRotation() {
    QMainWindow* window = instrumentWindow();
    if (!window) {
        return;
    }
    // The view follows the window's shape; its meters turn with it.
    window->resize(window->height(), window->width());
}

void KODeviceInPPMController::audioPropertiesChanged() {
    KOInstrumentController::audioPropertiesChanged();
    mNamedEngine = nullptr; // names again
    refreshMeters(KOAudioDevice::sharedAudioDevice().getKOAD());
    synchronizeWithAudioSettings();
}

void KODeviceInPPMController::synchronizeWithAudioSettings() {
    QMainWindow* window = instrumentWindow();
    if (window && mView) {
        const std::size_t n = visibleCount();
        const bool turned = mView->rotated();
        const double current = turned ? mView->height() : mView->width();
        const double across = std::max(KODeviceInPPMView::minWidth(n),
                                       std::min(current, KODeviceInPPMView::preferredWidth(n)));
        const int extra = std::max(0, turned ? window->height() - mView->height()
                                             : window->width() - mView->width());
        if (turned) {
            window->resize(window->width(), int(across) + extra);
        } else {
            window->resize(int(across) + extra, window->height());
        }
    }
    reloadTable();
    resetAll();
}

QString KODeviceInPPMController::channelName(std::uint32_t channel) const {
    KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
    if (mNamedEngine != nullptr && mNamedEngine == device.getKOAD()) {
        return device.nameForChannelAtIndex(channel);
    }
    return mNamedEngine != nullptr ? mNamedEngine->ChannelName(channel) : QString();
}

void KODeviceInPPMController::reloadTable() {
    if (!mTable) {
        return;
    }
    // Items are updated in place: this also runs from a click's own change signal.
    const QSignalBlocker blocker(mTable);
    const std::uint32_t count = channelCount();
    mTable->setRowCount(int(count));
    for (std::uint32_t row = 0; row < count; ++row) {
        QTableWidgetItem* show = mTable->item(int(row), kShowColumn);
        if (show == nullptr) {
            show = new QTableWidgetItem;
            show->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            mTable->setItem(int(row), kShowColumn, show);
        }
        show->setCheckState(mVisible[row] ? Qt::Checked : Qt::Unchecked);
        QTableWidgetItem* name = mTable->item(int(row), kNameColumn);
        if (name == nullptr) {
            name = new QTableWidgetItem;
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            mTable->setItem(int(row), kNameColumn, name);
        }
        name->setText(row < std::uint32_t(mNames.size()) ? mNames[int(row)] : QString());
    }
}

void KODeviceInPPMController::resetAll() {
    mLatches.reset();
    // The boxes go dark now; a signal still at full scale lights them at the next refresh.
    if (mView) {
        auto meters = mView->meters();
        for (auto& meter : meters) {
            meter.clipped = false;
        }
        mView->setMeters(std::move(meters));
    }
}

void KODeviceInPPMController::refreshMeters(const KOAD* engine) {
    std::vector<KODeviceInPPMView::Meter> meters;
    if (engine != nullptr) {
        const std::uint32_t count = std::min(engine->TotalNumberOfChannels(), KOAD::kMaxChannels);
        if (engine != mNamedEngine || count != std::uint32_t(mNames.size())) {
            // Names change only with the device or its channels: not read on every refresh.
            mNamedEngine = engine;
            mNames.clear();
            for (std::uint32_t channel = 0; channel < count; ++channel) {
                mNames.append(channelName(channel));
            }
            mChannelCount = count;
            reloadTable();
        }
        mChannelCount = count;
        meters.reserve(count);
        for (std::uint32_t channel = 0; channel < count; ++channel) {
            const KOAD::Levels levels = engine->GetLevels(channel);
            // Hidden meters still latch, so showing one reveals a clip it missed.
            const bool clipped = mLatches.update(channel, levels.peak);
            if (mVisible[channel]) {
                meters.push_back({levels.rms, levels.peak, clipped, mNames[int(channel)]});
            }
        }
    }
    if (mView) {
        mView->setMeters(std::move(meters));
    }
}
