#pragma once

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <xcb/xcb.h>

#include <utility>

namespace koru::test {

constexpr int kStartTimeoutMs = 30000;

// An X server of the test's own, with nothing else on it: no window manager, no desktop.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();

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
    explicit WindowWatcher(const QString& display);
    ~WindowWatcher();

    bool ready() const { return m_ready; }

    // The next window mapped on the display and its title, or 0 when none came within `ms`.
    std::pair<xcb_window_t, QString> nextMappedWindow(int ms);
    // Whether the window asks to be treated as a dialogue (message boxes, panels).
    bool isDialog(xcb_window_t window);
    void close(xcb_window_t window);
    // The window's pixels as the X server holds them (null when it cannot be read).
    QImage grab(xcb_window_t window);

private:
    xcb_atom_t atom(const char* name);
    QString title(xcb_window_t window);

    xcb_connection_t* m_connection = nullptr;
    xcb_atom_t m_protocols = XCB_ATOM_NONE;
    xcb_atom_t m_deleteWindow = XCB_ATOM_NONE;
    xcb_atom_t m_netName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;
    xcb_atom_t m_windowType = XCB_ATOM_NONE;
    xcb_atom_t m_dialogType = XCB_ATOM_NONE;
    bool m_ready = false;
};

// A user account of its own: home and XDG folders in a temporary folder, and the environment
// that starts a program of ours in it on `display`, with the virtual audio input and no session
// bus.
class TestAccount {
public:
    TestAccount();

    bool valid() const { return m_root.isValid(); }
    QString folder(const char* sub) const { return QDir(m_root.path()).filePath(sub); }
    QProcessEnvironment environment(const QString& display) const;
    QString defaultsFile() const { return folder("config") + "/KORU/defaults.plist"; }
    // Writes the user defaults of someone who has agreed to the licence; false when it cannot.
    bool acceptLicence() const;
    // Empty once a run of the program has finished starting up in this account (it stores its
    // identity then, and handles SIGTERM from then on); otherwise why it did not.
    QString waitForStartUp(QProcess& program) const;

private:
    QTemporaryDir m_root;
};

QStringList filesBelow(const QString& folder);

// An instrument as a session file lists it.
QVariantMap sessionInstrument(const char* kind, const char* name, bool visible = true,
                              const char* identifier = nullptr);

} // namespace koru::test
