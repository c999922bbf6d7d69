#include "analysers/ui/KODelayFinderController.h"

#include "analysers/KODelayFinderData.h"
#include "analysers/KODelayFinderMeasurement.h"
#include "analysers/KODelayFinderResults.h"
#include "analysers/ui/DoubleSlider.h"
#include "framework/KOTimeRulerView.h"
#include "platform/log/Log.h"
#include "utility/KODistanceFormatter.h"

#include <QAction>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>

using koru::analysers::DoubleSlider;
using koru::framework::RulerMarker;

namespace {

constexpr QSize kInitialSize(900, 420);
constexpr int kListWidth = 200;

// The window's dark look, as the plot's.
QPalette darkPalette() {
    QPalette palette;
    const QColor window = QColor::fromRgbF(0.16f, 0.16f, 0.16f);
    const QColor base = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
    const QColor text = QColor::fromRgbF(0.86f, 0.86f, 0.86f);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor::fromRgbF(0.2f, 0.4f, 0.7f));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

} // namespace

KODelayFinderController::KODelayFinderController(KODelayFinderMeasurement& measurement,
                                                 QObject* parent)
    : QObject(parent), mMeasurement(&measurement), mResults(&measurement.delayFinderResults()),
      mZeroLocationMarker{QString::fromLatin1(KODelayFinderView::kZeroPointMarker), 0.0, Qt::white,
                          true},
      mDelayTimeMarker{QString::fromLatin1(KODelayFinderView::kDelayTimeMarker), 0.0,
                       QColor::fromRgbF(0.2f, 0.7f, 0.9f), true} {
    buildWindow();
    mWindow->setWindowTitle(
        QString::fromLatin1(kWindowTitleFormat).arg(measurement.delayFinderTitle()));

    connect(mResults, &KODelayFinderResults::delayChanged, this,
            &KODelayFinderController::reloadDelayTimes);
    connect(mResults, &QObject::destroyed, this, &KODelayFinderController::measurementGone);
    connect(mResults, &QAbstractItemModel::rowsRemoved, this,
            &KODelayFinderController::selectionDidChange);
    connect(mResults, &QAbstractItemModel::modelReset, this,
            &KODelayFinderController::selectionDidChange);
    connect(mResultsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &KODelayFinderController::selectionDidChange);

    mReloadDistanceObserver = koru::platform::observeNotification(
        QString::fromLatin1(KODistanceFormatter::kChangeDistanceUnitNotification), nullptr,
        [self = QPointer<KODelayFinderController>(this)](
            const koru::platform::Notification& notification) {
            const auto unit = notification.object.toUInt();
            QMetaObject::invokeMethod(
                self,
                [self, unit] {
                    if (self != nullptr)
                        self->distanceUnitChanged(unit);
                },
                Qt::AutoConnection);
        });
    // A new sample rate changes what a number of samples means in time and distance.
    mReloadAudioObserver = koru::platform::observeNotification(
        QString::fromLatin1(KODistanceFormatter::kReloadAudioPropNotification), nullptr,
        [self = QPointer<KODelayFinderController>(this)](const koru::platform::Notification&) {
            QMetaObject::invokeMethod(
                self,
                [self] {
                    if (self != nullptr)
                        self->reloadDelayTimes();
                },
                Qt::AutoConnection);
        });
    distanceUnitChanged(KODistanceFormatter::sharedDistanceFormatter().unit());
    selectionDidChange();
}

KODelayFinderController::~KODelayFinderController() {
    mReloadDistanceObserver.reset();
    mReloadAudioObserver.reset();
    if (mView != nullptr)
        mView->setDelegate(nullptr);
}

void KODelayFinderController::buildWindow() {
    mWindow = std::make_unique<QWidget>();
    mWindow->setObjectName(QStringLiteral("delayfinder"));
    mWindow->setPalette(darkPalette());
    mWindow->setAutoFillBackground(true);
    mWindow->resize(kInitialSize);

    auto* splitter = new QSplitter(Qt::Horizontal, mWindow.get());
    auto* listPane = new QWidget(splitter);
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(4, 4, 4, 4);
    mResultsView = new QListView(listPane);
    mResultsView->setModel(mResults);
    mResultsView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mResultsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listLayout->addWidget(mResultsView);
    auto* buttons = new QHBoxLayout;
    mRecomputeButton = new QPushButton(tr("Recompute"), listPane);
    mDeleteButton = new QPushButton(tr("Delete"), listPane);
    buttons->addWidget(mRecomputeButton);
    buttons->addWidget(mDeleteButton);
    listLayout->addLayout(buttons);
    connect(mRecomputeButton, &QPushButton::clicked, this,
            &KODelayFinderController::recomputeDelay);
    connect(mDeleteButton, &QPushButton::clicked, this, &KODelayFinderController::deleteSelected);
    auto* deleteAction = new QAction(mResultsView);
    deleteAction->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    deleteAction->setShortcutContext(Qt::WidgetShortcut);
    mResultsView->addAction(deleteAction);
    connect(deleteAction, &QAction::triggered, this, &KODelayFinderController::deleteSelected);

    auto* plotPane = new QWidget(splitter);
    auto* plotLayout = new QVBoxLayout(plotPane);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->setSpacing(0);
    mView = new KODelayFinderView(plotPane);
    mView->setDelegate(this);
    mTimeRuler = new KOTimeRulerView(mView, Qt::Horizontal, plotPane);
    mScrollBar = new QScrollBar(Qt::Horizontal, plotPane);
    plotLayout->addWidget(mTimeRuler);
    plotLayout->addWidget(mView, 1);
    plotLayout->addWidget(mScrollBar);
    auto* zoomRow = new QHBoxLayout;
    zoomRow->setContentsMargins(6, 2, 6, 2);
    zoomRow->addWidget(new QLabel(tr("Zoom"), plotPane));
    mZoomSlider = new DoubleSlider(plotPane);
    zoomRow->addWidget(mZoomSlider, 1);
    mDelayLabel = new QLabel(plotPane);
    mDelayLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the longest read-out, so the slider gives way rather than the text.
    mDelayLabel->setMinimumWidth(mDelayLabel->fontMetrics().horizontalAdvance(
        QString::fromLatin1(kDelayReadoutFormat)
            .arg(QStringLiteral("-131072 smp / -2730.7 msec / -3072.00 ft"))));
    zoomRow->addSpacing(12);
    zoomRow->addWidget(mDelayLabel);
    plotLayout->addLayout(zoomRow);
    mView->setZoomSlider(mZoomSlider);

    connect(mView, &KOFloatVectorView::visibleRectChanged, this, [this] {
        updateRulerOrigin();
        updateScrollBar();
    });
    connect(mScrollBar, &QScrollBar::valueChanged, this,
            [this](int value) { mView->setScrollOrigin(double(value)); });

    splitter->addWidget(listPane);
    splitter->addWidget(plotPane);
    splitter->setSizes({kListWidth, kInitialSize.width() - kListWidth});
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(mWindow.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
}

void KODelayFinderController::showWindow() {
    mWindow->show();
    mWindow->raise();
}

void KODelayFinderController::addDelayFinderData(std::shared_ptr<KODelayFinderData> data) {
    if (mResults != nullptr)
        mResults->add(std::move(data));
}

void KODelayFinderController::deleteSelected() {
    if (mResults == nullptr)
        return;
    std::vector<int> rows;
    for (const QModelIndex& index : mResultsView->selectionModel()->selectedRows())
        rows.push_back(index.row());
    mResults->removeRows(std::move(rows));
}

void KODelayFinderController::recomputeDelay() {
    if (mMeasurement == nullptr)
        return;
    mMeasurement->computeDelayWithCompletionBlock(
        [self = QPointer<KODelayFinderController>(this)](
            KODelayFinderMeasurement&, const std::shared_ptr<KODelayFinderData>& data) {
            if (self == nullptr || self->mResults == nullptr)
                return;
            const int row = self->mResults->rowOf(data.get());
            if (row < 0)
                return;
            self->mResultsView->selectionModel()->select(self->mResults->index(row),
                                                         QItemSelectionModel::ClearAndSelect);
        });
}

void KODelayFinderController::reloadDelayTimes() {
    if (mMeasurement == nullptr)
        return;
    if (mView->isMovingMarker()) {
        // Replacing the ruler's markers now would pull the dragged one from under the mouse; the
        // view already follows it, and the end of the drag reloads again.
        updateRulerOrigin();
        return;
    }
    // The ruler moves its own copy of a dragged marker: the zero marker is wherever it left it.
    for (const RulerMarker& marker : mTimeRuler->markers()) {
        if (marker.identifier == mZeroLocationMarker.identifier)
            mZeroLocationMarker.location = marker.location;
    }
    updateRulerOrigin();
    mDelayTimeMarker.location = double(delayTime() + delayTimeOffset());
    mTimeRuler->setMarkers({mZeroLocationMarker, mDelayTimeMarker});
    mView->setZeroTimeMarkerPosition(mZeroLocationMarker.location);
    mView->setDelayTimeMarkerPosition(mDelayTimeMarker.location);
    mDelayLabel->setText(QString::fromLatin1(kDelayReadoutFormat).arg(delayReadout(delayTime())));
}

QString KODelayFinderController::delayReadout(std::int64_t samples) {
    KODistanceFormatter& formatter = KODistanceFormatter::sharedDistanceFormatter();
    const std::uint32_t distance = formatter.unit() == KODistanceFormatter::Feet
                                       ? KODistanceFormatter::Feet
                                       : KODistanceFormatter::Meter;
    QStringList parts;
    for (const std::uint32_t unit : {std::uint32_t(KODistanceFormatter::Samples),
                                     std::uint32_t(KODistanceFormatter::Msec), distance}) {
        const float value =
            formatter.convertValue(double(samples), KODistanceFormatter::Samples, unit);
        parts.append(
            formatter.stringForObjectValue(QVariant(double(value)), unit).value_or(QString()));
    }
    return parts.join(QStringLiteral(" / "));
}

std::int64_t KODelayFinderController::delayTime() {
    if (mMeasurement == nullptr)
        return 0;
    try {
        return mMeasurement->sourceDelay();
    } catch (const std::exception& error) {
        koru::log::warn("Delay finder: the measurement cannot tell its delay ({})", error.what());
        return 0;
    }
}

void KODelayFinderController::setDelayTime(std::int64_t t) {
    if (mMeasurement != nullptr)
        mMeasurement->setSourceDelay(t - mMeasurement->delayOffset());
}

std::int64_t KODelayFinderController::delayTimeOffset() {
    return mMeasurement != nullptr ? mMeasurement->delayOffset() : 0;
}

void KODelayFinderController::setDelayTimeOffset(std::int64_t offset) {
    if (mMeasurement == nullptr)
        return;
    mMeasurement->setDelayOffset(offset);
    updateRulerOrigin();
}

void KODelayFinderController::selectionDidChange() {
    std::shared_ptr<KODelayFinderData> selected;
    if (mResults != nullptr) {
        QModelIndexList rows = mResultsView->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        if (!rows.isEmpty())
            selected = mResults->at(rows.first().row());
    }
    mView->setData(std::move(selected));
    updateScrollBar();
}

void KODelayFinderController::distanceUnitChanged(std::uint32_t unit) {
    const QString name = KODistanceFormatter::unitNameForUnit(unit);
    try {
        mTimeRuler->setMeasurementUnits(name);
    } catch (const std::invalid_argument&) {
        koru::log::warn("Delay finder: no ruler unit \"{}\"; the ruler keeps \"{}\"",
                        name.toStdString(), mTimeRuler->measurementUnits().toStdString());
    }
    reloadDelayTimes();
}

// The ruler counts its labels from the offset; it wants the place in its own points.
void KODelayFinderController::updateRulerOrigin() {
    mTimeRuler->setOriginOffset(double(delayTimeOffset()) * mView->zoom());
}

void KODelayFinderController::updateScrollBar() {
    const QSignalBlocker blocker(mScrollBar);
    const double maximum = mView->maximumScrollOrigin();
    mScrollBar->setRange(0, int(std::min(maximum, double(INT32_MAX))));
    mScrollBar->setPageStep(std::max(1, int(mView->visibleRect().width())));
    mScrollBar->setValue(int(mView->scrollOrigin()));
}

void KODelayFinderController::measurementGone() {
    mMeasurement = nullptr;
    mResults = nullptr;
    mView->setData(nullptr);
}
