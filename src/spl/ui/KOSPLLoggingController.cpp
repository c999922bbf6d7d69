#include "spl/ui/KOSPLLoggingController.h"

#include "app/ui/KOExporterPanelViewController.h"
#include "spl/KOSPLLog.h"
#include "spl/KOSPLLogStore.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSPLLogExportSource.h"
#include "utility/KOString.h"
#include "utility/VEDate.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kPlotHeight = 221;

} // namespace

KOSPLLoggingController& KOSPLLoggingController::sharedSPLLogController() {
    static auto* controller = new KOSPLLoggingController(KOSPLLogStore::sharedStore());
    return *controller;
}

KOSPLLoggingController::KOSPLLoggingController(KOSPLLogStore& store, QObject* parent)
    : QObject(parent), mStore(store) {
    connect(&mStore, &KOSPLLogStore::logsChanged, this, [this] {
        if (mWindow)
            reloadList();
    });
}

KOSPLLoggingController::~KOSPLLoggingController() {
    if (mHistoryView)
        mHistoryView->setDelegate(nullptr);
}

QWidget* KOSPLLoggingController::window() {
    if (!mWindow)
        build();
    return mWindow.get();
}

void KOSPLLoggingController::showWindow() {
    window()->show();
    mWindow->raise();
}

void KOSPLLoggingController::build() {
    mWindow = std::make_unique<QWidget>();
    mWindow->setWindowTitle(QStringLiteral("SPL Logs"));
    mWindow->resize(760, 300);
    auto* row = new QHBoxLayout(mWindow.get());
    auto* side = new QVBoxLayout;
    mList = new QListWidget;
    mList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mList->setFixedWidth(220);
    side->addWidget(mList);
    mLoadingLabel = new QLabel(QStringLiteral("Loading logs…"));
    side->addWidget(mLoadingLabel);
    auto* buttons = new QHBoxLayout;
    mDeleteButton = new QPushButton(QStringLiteral("Delete"));
    mExportButton = new QPushButton(QStringLiteral("Export…"));
    auto* selectAllButton = new QPushButton(QStringLiteral("Select All"));
    buttons->addWidget(mDeleteButton);
    buttons->addWidget(selectAllButton);
    buttons->addWidget(mExportButton);
    side->addLayout(buttons);
    row->addLayout(side);

    auto* main = new QVBoxLayout;
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidgetResizable(false);
    mHistoryView = new KOSPLHistoryView;
    // A fixed height: the view's layers are laid out for the height it had when they were made.
    mHistoryView->resize(400, kPlotHeight);
    area->setFixedHeight(kPlotHeight);
    area->setWidget(mHistoryView);
    area->viewport()->installEventFilter(this);
    main->addWidget(area, 1);
    mZoomSlider = new QSlider(Qt::Horizontal);
    mZoomSlider->setRange(1, 180);
    main->addWidget(mZoomSlider);
    row->addLayout(main, 1);

    mHistoryView->setDelegate(this);
    mHistoryView->setSpeed(1.0);
    mZoomSlider->setValue(1);
    connect(mZoomSlider, &QSlider::valueChanged, this, &KOSPLLoggingController::setLoggingZoom);
    connect(mList, &QListWidget::itemSelectionChanged, this, &KOSPLLoggingController::showSelected);
    connect(mDeleteButton, &QPushButton::clicked, this,
            &KOSPLLoggingController::deleteSelectedLogs);
    connect(mExportButton, &QPushButton::clicked, this, &KOSPLLoggingController::exportSelectedLog);
    connect(selectAllButton, &QPushButton::clicked, this, &KOSPLLoggingController::selectAll);
    reloadList();
}

bool KOSPLLoggingController::eventFilter(QObject* watched, QEvent* event) {
    // The plot spans the log at its speed but never less than the visible width.
    if (event->type() == QEvent::Resize && mHistoryView && watched == mHistoryView->parent())
        mHistoryView->setSpeed(mHistoryView->speed());
    return QObject::eventFilter(watched, event);
}

void KOSPLLoggingController::reloadList() {
    const std::shared_ptr<KOSPLLog> previous = selectedLog();
    mLogs = mStore.logs();
    if (mLoadingLabel)
        mLoadingLabel->setVisible(!mStore.isLoaded());
    {
        const QSignalBlocker blocker(mList);
        mList->clear();
        for (const auto& log : mLogs) {
            const QDateTime start = log->startDate();
            mList->addItem(QStringLiteral("%1\n%2 · %3")
                               .arg(log->name(),
                                    start.isValid()
                                        ? VEDate::shortDateTimeString(start.toLocalTime())
                                        : QStringLiteral("-"),
                                    KOString::stringForSplInfo(log->weight(), log->speed())));
        }
        const auto kept = std::find(mLogs.begin(), mLogs.end(), previous);
        if (kept != mLogs.end())
            mList->setCurrentRow(int(kept - mLogs.begin()));
        else if (!mLogs.empty())
            mList->setCurrentRow(int(mLogs.size()) - 1);
    }
    showSelected();
}

std::shared_ptr<KOSPLLog> KOSPLLoggingController::selectedLog() const {
    if (!mList)
        return nullptr;
    for (int row = 0; row < mList->count(); ++row) {
        if (mList->item(row)->isSelected() && row < int(mLogs.size()))
            return mLogs[std::size_t(row)];
    }
    return nullptr;
}

void KOSPLLoggingController::selectLogAtIndex(int index) {
    window();
    mList->setCurrentRow(index);
}

void KOSPLLoggingController::showSelected() {
    const std::shared_ptr<KOSPLLog> log = selectedLog();
    if (mHistoryView && mHistoryView->splLog() != log)
        mHistoryView->setSplLog(log);
    if (mDeleteButton)
        mDeleteButton->setEnabled(log != nullptr);
    if (mExportButton)
        mExportButton->setEnabled(log != nullptr && log->length() > 0);
}

void KOSPLLoggingController::setLoggingZoom(int value) {
    if (mHistoryView && value > 0)
        mHistoryView->setSpeed(1.0 / double(value));
}

void KOSPLLoggingController::historyViewDidChangeSpeed(float speed) {
    if (!mZoomSlider || !(speed > 0.0f))
        return;
    const QSignalBlocker blocker(mZoomSlider);
    mZoomSlider->setValue(int(std::lround(1.0 / double(speed))));
}

void KOSPLLoggingController::selectAll() {
    if (mHistoryView)
        mHistoryView->selectAll();
}

void KOSPLLoggingController::deleteSelectedLogs() {
    if (!mList)
        return;
    std::vector<std::shared_ptr<KOSPLLog>> selected;
    for (int row = 0; row < mList->count() && row < int(mLogs.size()); ++row) {
        if (mList->item(row)->isSelected())
            selected.push_back(mLogs[std::size_t(row)]);
    }
    if (!selected.empty())
        mStore.removeLogs(selected);
}

void KOSPLLoggingController::exportSelectedLog() {
    const std::shared_ptr<KOSPLLog> log = selectedLog();
    if (!log || !mHistoryView)
        return;
    const auto [start, length] = mHistoryView->selectionRange();
    log->setSelectionRange(start, length);
    KOExporterPanelViewController::runExporterSheetInWindow(
        mWindow.get(), std::make_shared<KOSPLLogExportSource>(log));
}
