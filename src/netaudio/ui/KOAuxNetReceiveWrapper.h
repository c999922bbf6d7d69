#pragma once

#include "engine/ui/KOAuxInWrapper.h"
#include "netaudio/KOAuxInNetReceive.h"
#include "netaudio/NetServiceBrowser.h"
#include "netaudio/ZOObjCNetReceiveAU.h"

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace koru::platform {
class AudioUnitInstance;
}

// The network receiver's window controller ("Net Receive"): owns the receive input, lists the
// senders found in this process and on the network (double-click one to connect), takes the
// password, and shows the connection with a status light, a connect/disconnect button and, while
// connected, the sender's host.
//
// A sender found at several addresses is connected at the last of them: each connection would
// replace the one before, so only the last one is made. A sender that cannot be looked up is
// logged and leaves the status as it was.
//
// Two phases, as the base: construct, then init() for a new receiver or initWithDictionary()
// for a restored one (the factories below do both). Main thread only.
class KOAuxNetReceiveWrapper : public KOAuxInWrapper {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "netreceive";
    static constexpr const char* kServiceColumn = "serviceName";

    struct Services {
        // Makes the unit the stream is heard through; empty takes the default output.
        std::function<std::unique_ptr<koru::platform::AudioUnitInstance>()> output;
        // The status listener's clock; empty takes the steady clock.
        koru::netaudio::NetStatusListener::Clock clock;
    };

    // A new receiver with its window shown; null (logged) when its output cannot be made.
    static std::unique_ptr<KOAuxNetReceiveWrapper> make(Services services = {});
    // A restored receiver, its window shown only when it was visible; null as above.
    static std::unique_ptr<KOAuxNetReceiveWrapper> makeWithDictionary(const QVariantMap& dictionary,
                                                                      Services services = {});
    static koru::AuxInputWrapperFactory factory(Services services = {});

    explicit KOAuxNetReceiveWrapper(Services services = {});
    ~KOAuxNetReceiveWrapper() override;

    bool init();
    bool initWithDictionary(const QVariantMap& dictionary);
    // YES at once when the receiver exists; false (logged) when its output cannot be made.
    bool createReceiver();
    void showWindow(const void* sender) override;

    KOAuxInNetReceive* netReceive() const { return mNetReceive.get(); }
    KOAuxInput* auxInput() override { return mNetReceive.get(); }
    QString identifier() const override { return QStringLiteral("KOAuxNetReceiveWrapper"); }
    // The base's keys plus the receiver's parameters (written, never read back).
    QVariantMap dictionaryRepresentation() const override;

    // Connects to the sender in the table's selected row; nothing without a selection.
    void connectSelected();
    // Connects to the last of a looked-up sender's addresses.
    void connectToEndpoints(const std::string& name,
                            const std::vector<koru::netaudio::NetServiceBrowser::Endpoint>& found);
    void disconnectReceiver();
    // Hands the password field's text to the receiver, for its next connection.
    void setPassword();
    // A status report of the receiver, on this thread.
    void showStatus(int status);

    QTableWidget* serviceTable() const { return mServiceTable; }
    QLabel* statusField() const { return mStatusField; }
    QLabel* statusLight() const { return mStatusLight; }
    QLineEdit* hostField() const { return mHostField; }
    QLineEdit* passwordField() const { return mPasswordField; }
    QPushButton* connectButton() const { return mConnectButton; }
    ZOObjCNetReceiveAU* control() const { return mControl.get(); }
    koru::netaudio::NetServiceBrowser* browser() const { return mBrowser.get(); }

protected:
    QWidget* createViewForAU(koru::AudioSource& unit) override;

private:
    void buildControls();
    void reloadServices();

    Services mServices;
    std::unique_ptr<KOAuxInNetReceive> mNetReceive;
    // Dropped before the input: it reports the input's status.
    std::unique_ptr<ZOObjCNetReceiveAU> mControl;
    std::unique_ptr<koru::netaudio::NetServiceBrowser> mBrowser;
    // The window's controls until the window first shows them, then the scroll view's.
    std::unique_ptr<QWidget> mControlsKept;
    QWidget* mControls = nullptr;
    QTableWidget* mServiceTable = nullptr;
    QLabel* mStatusField = nullptr;
    QLabel* mStatusLight = nullptr;
    QLineEdit* mHostField = nullptr;
    QLineEdit* mPasswordField = nullptr;
    QPushButton* mConnectButton = nullptr;
    bool mButtonDisconnects = false;
};
