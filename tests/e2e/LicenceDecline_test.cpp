#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <poll.h>

namespace {

constexpr int kStartTimeoutMs = 30000;

// An X server of the test's own, with nothing else on it: no window manager, no desktop.
class VirtualDisplay {
public:
    VirtualDisplay() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        // The server prints its display number once it accepts connections.
        m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                              QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                              QStringLiteral("-screen"), QStringLiteral("0"),
                              QStringLiteral("1280x1024x24")});
        const QDeadlineTimer deadline(kStartTimeoutMs);
        while (!m_server.canReadLine() && !deadline.hasExpired() &&
               m_server.state() != QProcess::NotRunning)
            m_server.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        const QByteArray number = m_server.readLine().trimmed();
        if (!number.isEmpty())
            m_name = QStringLiteral(":") + QString::fromLatin1(number);
    }
    ~VirtualDisplay() {
        m_server.terminate();
        if (!m_server.waitForFinished(kStartTimeoutMs))
            m_server.kill();
    }

    bool started() const { return !m_name.isEmpty(); }
    QString name() const { return m_name; }

private:
    QProcess m_server;
    QString m_name;
};

// Watches the display's top-level windows as they appear and can close one the way a window
// manager's close button does.
class WindowWatcher {
public:
    explicit WindowWatcher(const QString& display) {
        int screenNumber = 0;
        m_connection = xcb_connect(display.toLatin1().constData(), &screenNumber);
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, screens.data->root, XCB_CW_EVENT_MASK, &mask);
        m_protocols = atom("WM_PROTOCOLS");
        m_deleteWindow = atom("WM_DELETE_WINDOW");
        m_netName = atom("_NET_WM_NAME");
        m_utf8 = atom("UTF8_STRING");
        m_ready = m_protocols && m_deleteWindow;
    }
    ~WindowWatcher() { xcb_disconnect(m_connection); }

    bool ready() const { return m_ready; }

    // The next window mapped on the display and its title, or 0 when none came within `ms`.
    std::pair<xcb_window_t, QString> nextMappedWindow(int ms) {
        pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        for (;;) {
            while (auto* event = xcb_poll_for_event(m_connection)) {
                const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owned(event,
                                                                                       &std::free);
                if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
                    continue;
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                return {map->window, title(map->window)};
            }
            if (::poll(&fd, 1, ms) <= 0)
                return {0, QString()};
        }
    }

    void close(xcb_window_t window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = m_protocols;
        message.data.data32[0] = m_deleteWindow;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(m_connection);
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return result;
    }

    QString title(xcb_window_t window) {
        auto* reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_netName, m_utf8, 0, 1024),
            nullptr);
        QString text;
        if (reply != nullptr)
            text = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                     xcb_get_property_value_length(reply));
        std::free(reply);
        return text;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_atom_t m_protocols = XCB_ATOM_NONE;
    xcb_atom_t m_deleteWindow = XCB_ATOM_NONE;
    xcb_atom_t m_netName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;
    bool m_ready = false;
};

QStringList filesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// A first start on a fresh account where the user closes the licence window instead of
// agreeing: KORU quits at once, and leaves no file behind (no defaults, no session, no log).
TEST(LicenceDecline, ClosingTheAgreementOnAFirstStartQuitsWithoutWritingAFile) {
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());

    QTemporaryDir account(QDir(koru::test::testRoot()).filePath("account-XXXXXX"));
    ASSERT_TRUE(account.isValid());
    const QDir root(account.path());
    for (const char* sub : {"home", "config", "data", "state", "cache", "runtime"})
        ASSERT_TRUE(root.mkpath(sub));
    QFile::setPermissions(root.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY"})
        environment.remove(name);
    environment.insert("DISPLAY", display.name());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("KORU_AUDIO_API", "virtual");
    environment.insert("HOME", root.filePath("home"));
    environment.insert("XDG_CONFIG_HOME", root.filePath("config"));
    environment.insert("XDG_DATA_HOME", root.filePath("data"));
    environment.insert("XDG_STATE_HOME", root.filePath("state"));
    environment.insert("XDG_CACHE_HOME", root.filePath("cache"));
    environment.insert("XDG_RUNTIME_DIR", root.filePath("runtime"));

    QProcess koru;
    koru.setProcessEnvironment(environment);
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    // The agreement is the first window KORU shows.
    const auto [window, title] = windows.nextMappedWindow(kStartTimeoutMs);
    ASSERT_NE(window, 0u) << "no window appeared; KORU said:\n" << koru.readAll().toStdString();
    EXPECT_TRUE(title.startsWith(QStringLiteral("KORU Licence Agreement"))) << title.toStdString();

    windows.close(window);
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU kept running after declining";
    const std::string output = koru.readAll().toStdString();
    EXPECT_EQ(koru.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(koru.exitCode(), 0) << output;

    for (const char* sub : {"home", "config", "data", "state"})
        EXPECT_EQ(filesBelow(root.filePath(sub)), QStringList()) << sub;
}

} // namespace
