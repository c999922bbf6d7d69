#pragma once

#include "framework/KOInstrumentControllerWithoutPanel.h"
#include "netaudio/KONetSendInstrument.h"
#include "netaudio/NetStatusListener.h"

#include <QPointer>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The network send window ("netsend"): two channel pop-ups, the stream format, port, password,
// a connect button and a status light. The sender is offered under the window's name, by
// default "KORU Net Send <n>" numbered per creation in this process.
//
// The password is stored in the session as entered, in plain text, and only keeps casual
// receivers out: the audio itself travels unencrypted.
class KONetSendController : public KOInstrumentControllerWithoutPanel {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "netsend";
    static constexpr const char* kChannel1Key = "NetSend.Ch1";
    static constexpr const char* kChannel2Key = "NetSend.Ch2";
    static constexpr const char* kFormatKey = "NetSend.Format";
    static constexpr const char* kPasswordKey = "NetSend.Password";
    static constexpr const char* kNameFormat = "KORU Net Send %1";

    explicit KONetSendController(KOInstrumentControllerDelegate* delegate = nullptr) {
        setDelegate(delegate);
    }
    ~KONetSendController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void audioPropertiesChanged() override;
    // Once a receiver has connected the window stays for the rest of the instrument's life, so
    // a stream someone relies on is not cut by a stray close.
    bool canBeClosed() const override { return !mHasBeenConnected; }

    qint64 inChannelA() const override;
    void setInChannelA(qint64 channel) override;
    qint64 inChannelB() const override;
    void setInChannelB(qint64 channel) override;

    void setFormat(std::uint32_t index);
    // False, changing nothing, outside 1..65535.
    bool setPort(qint64 port);
    void setPassword(const QString& password);
    // Connects unless connected, else disconnects.
    void changeConnectionStatus();
    void showStatus(koru::netaudio::NetStatus status);

    KONetSendInstrument* instrument() const { return mInstrument.get(); }
    QComboBox* formatMenu() const { return mFormatMenu; }
    QLabel* statusField() const { return mStatusField; }
    QLabel* statusLight() const { return mStatusLight; }
    QPushButton* connectButton() const { return mConnectButton; }
    QLineEdit* portField() const { return mPortField; }
    koru::netaudio::NetStatusListener* statusListener() const { return mStatusListener.get(); }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    void fillChannelMenus();
    void showPort();

    std::unique_ptr<KONetSendInstrument> mInstrument;
    std::unique_ptr<koru::netaudio::NetStatusListener> mStatusListener;
    QComboBox* mChannelAMenu = nullptr;
    QComboBox* mChannelBMenu = nullptr;
    QComboBox* mFormatMenu = nullptr;
    QLineEdit* mPortField = nullptr;
    QLineEdit* mPasswordField = nullptr;
    QLabel* mStatusField = nullptr;
    QLabel* mStatusLight = nullptr;
    QPushButton* mConnectButton = nullptr;
    bool mHasBeenConnected = false;
};
