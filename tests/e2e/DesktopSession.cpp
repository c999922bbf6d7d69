#include "DesktopSession.h"

#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <poll.h>

namespace koru::test {

VirtualDisplay::VirtualDisplay() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return;
    // The server prints its display number once it accepts connections.
    m_server.start(xvfb,
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                    QStringLiteral("1280x1024x24")});
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_server.canReadLine() && !deadline.hasExpired() &&
           m_server.state() != QProcess::NotRunning)
        m_server.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    const QByteArray number = m_server.readLine().trimmed();
    if (!number.isEmpty())
        m_name = QStringLiteral(":") + QString::fromLatin1(number);
}

VirtualDisplay::~VirtualDisplay() {
    m_server.terminate();
    if (!m_server.waitForFinished(kStartTimeoutMs))
        m_server.kill();
}

WindowWatcher::WindowWatcher(const QString& display) {
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
    m_windowType = atom("_NET_WM_WINDOW_TYPE");
    m_dialogType = atom("_NET_WM_WINDOW_TYPE_DIALOG");
    m_ready = m_protocols && m_deleteWindow;
}

WindowWatcher::~WindowWatcher() {
    xcb_disconnect(m_connection);
}

std::pair<xcb_window_t, QString> WindowWatcher::nextMappedWindow(int ms) {
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

bool WindowWatcher::isDialog(xcb_window_t window) {
    auto* reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, m_windowType, XCB_ATOM_ATOM, 0, 32),
        nullptr);
    bool dialog = false;
    if (reply != nullptr) {
        const auto* types = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < count; ++i)
            dialog = dialog || types[i] == m_dialogType;
    }
    std::free(reply);
    return dialog;
}

void WindowWatcher::close(xcb_window_t window) {
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

QImage WindowWatcher::grab(xcb_window_t window) {
    auto* geometry =
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
    if (geometry == nullptr)
        return {};
    const int width = geometry->width;
    const int height = geometry->height;
    const int depth = geometry->depth;
    std::free(geometry);
    auto* reply =
        xcb_get_image_reply(m_connection,
                            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                          std::uint16_t(width), std::uint16_t(height), ~0u),
                            nullptr);
    if (reply == nullptr)
        return {};
    QImage image;
    // A 24-bit visual comes as 32 bits per pixel, blue first: Qt's RGB32 on a little-endian host.
    if (depth == 24 || depth == 32) {
        const auto* data = xcb_get_image_data(reply);
        const int length = xcb_get_image_data_length(reply);
        if (length >= width * height * 4)
            image = QImage(data, width, height, width * 4, QImage::Format_RGB32).copy();
    }
    std::free(reply);
    return image;
}

xcb_atom_t WindowWatcher::atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
}

QString WindowWatcher::title(xcb_window_t window) {
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

TestAccount::TestAccount() : m_root(QDir(testRoot()).filePath("account-XXXXXX")) {
    const QDir root(m_root.path());
    for (const char* sub : {"home", "config", "data", "state", "cache", "runtime"})
        root.mkpath(sub);
    QFile::setPermissions(root.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QProcessEnvironment TestAccount::environment(const QString& display) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY"})
        environment.remove(name);
    environment.insert("DISPLAY", display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("KORU_AUDIO_API", "virtual");
    environment.insert("HOME", folder("home"));
    environment.insert("XDG_CONFIG_HOME", folder("config"));
    environment.insert("XDG_DATA_HOME", folder("data"));
    environment.insert("XDG_STATE_HOME", folder("state"));
    environment.insert("XDG_CACHE_HOME", folder("cache"));
    environment.insert("XDG_RUNTIME_DIR", folder("runtime"));
    return environment;
}

bool TestAccount::acceptLicence() const {
    return platform::PropertyList::write(defaultsFile(), QVariantMap{{"sla_accept", true}},
                                         platform::PlistFormat::Xml);
}

QString TestAccount::waitForStartUp(QProcess& program) const {
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (platform::PropertyList::read(defaultsFile())
               .value.toMap()
               .value("LastSessionID")
               .toString()
               .isEmpty()) {
        if (program.state() != QProcess::Running)
            return QStringLiteral("the program ended: ") + QString::fromUtf8(program.readAll());
        if (deadline.hasExpired())
            return QStringLiteral("start-up never finished");
        QThread::msleep(20);
    }
    return {};
}

QVariantMap sessionInstrument(const char* kind, const char* name, bool visible,
                              const char* identifier) {
    QVariantMap entry{{"KOType", kind},
                      {"InstrumentController.Name", name},
                      {"InstrumentController.WindowVisible", visible ? 1 : 0}};
    if (identifier != nullptr)
        entry.insert("InstrumentController.Identifier", identifier);
    return entry;
}

QStringList filesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

} // namespace koru::test
