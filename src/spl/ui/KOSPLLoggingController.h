#pragma once

#include "framework/KOLevelHistoryViewDelegate.h"
#include "spl/ui/KOSPLHistoryView.h"

#include <QLabel>
#include <QListWidget>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QSlider>

#include <memory>
#include <vector>

class KOSPLLog;
class KOSPLLogStore;
class QWidget;

// The one window listing the user's finished SPL logs: the selected log in a history view with
// a zoom slider, and Delete, Select All and Export. The list is the log store's; every delete goes
// through the store, so it is saved at once. While the store still loads, the window says so
// and fills in when the logs arrive.
//
// Main thread only.
class KOSPLLoggingController : public QObject, public KOLevelHistoryViewDelegate {
    Q_OBJECT
public:
    // The program's window over the shared store, made on first use.
    static KOSPLLoggingController& sharedSPLLogController();

    explicit KOSPLLoggingController(KOSPLLogStore& store, QObject* parent = nullptr);
    ~KOSPLLoggingController() override;

    // The window, built on first use.
    QWidget* window();
    void showWindow();

    KOSPLHistoryView* historyView() const { return mHistoryView; }
    QSlider* zoomSlider() const { return mZoomSlider; }
    QListWidget* list() const { return mList; }
    QLabel* loadingLabel() const { return mLoadingLabel; }

    // The log shown; null without a selection.
    std::shared_ptr<KOSPLLog> selectedLog() const;
    void selectLogAtIndex(int index);

    void setLoggingZoom(int value);
    void historyViewDidChangeSpeed(float speed) override;
    void selectAll();
    // Removes the selected logs from the store (saved at once).
    void deleteSelectedLogs();
    // The exporter on the window for the selected log's selection; nothing without one.
    void exportSelectedLog();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void reloadList();
    void showSelected();

    KOSPLLogStore& mStore;
    std::unique_ptr<QWidget> mWindow;
    QPointer<QListWidget> mList;
    QPointer<KOSPLHistoryView> mHistoryView;
    QPointer<QSlider> mZoomSlider;
    QPointer<QPushButton> mDeleteButton;
    QPointer<QPushButton> mExportButton;
    QPointer<QLabel> mLoadingLabel;               // while the store still loads
    std::vector<std::shared_ptr<KOSPLLog>> mLogs; // the list's rows, in order
};
