#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class KOLocalLevelwatcher;
class QLabel;
class QPushButton;
class QWidget;

// The SPL server's settings window: a status light, a link with the server's address, and
// Start, Stop and Show Web Folder. Made on first use by the application's menu command.
class KOLevelwatcherWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kWindowTitle = "SPL Server";

    explicit KOLevelwatcherWindowController(KOLocalLevelwatcher& server);
    ~KOLevelwatcherWindowController() override;

    void showWindow();
    QWidget* window() const { return mWindow.get(); }
    QPushButton* linkButton() const { return mLink; }
    QPushButton* startButton() const { return mStart; }
    QPushButton* stopButton() const { return mStop; }
    QPushButton* showFolderButton() const { return mShowFolder; }
    QLabel* statusLight() const { return mLight; }

    void startServer();
    void stopServer();
    void showDocRootInFinder();
    void openLink();

private:
    void update();

    KOLocalLevelwatcher& mServer;
    std::unique_ptr<QWidget> mWindow;
    QLabel* mLight = nullptr;
    QLabel* mStatusText = nullptr;
    QPushButton* mLink = nullptr;
    QPushButton* mStart = nullptr;
    QPushButton* mStop = nullptr;
    QPushButton* mShowFolder = nullptr;
};

// The program's menu command: shows the shared server's window, made on first use.
void KOShowLevelwatcherWindow();
