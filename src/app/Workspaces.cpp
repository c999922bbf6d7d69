#include "app/Workspaces.h"

#include "app/Session.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace koru {

namespace {

QString key(const char* name) {
    return QString::fromLatin1(name);
}

QVariantMap sessionOf(const QVariantMap& workspace) {
    const QVariant session = workspace.value(key(Workspaces::kSessionKey));
    if (session.typeId() != QMetaType::QVariantMap)
        throw std::invalid_argument("the workspace holds no session");
    return session.toMap();
}

// Loading a session empties the workspace list, since a workspace's session holds none; this
// puts the list back however the load ends.
class KeepWorkspaceList {
public:
    explicit KeepWorkspaceList(Session& session) : mSession(session), mKept(session.workspaces()) {}
    ~KeepWorkspaceList() { mSession.workspaces() = mKept; }
    KeepWorkspaceList(const KeepWorkspaceList&) = delete;
    KeepWorkspaceList& operator=(const KeepWorkspaceList&) = delete;

private:
    Session& mSession;
    QVariantList mKept;
};

Workspaces::MenuItem menuItem(Workspaces::MenuAction action, const QString& title,
                              std::int32_t tag = 0) {
    Workspaces::MenuItem item;
    item.action = action;
    item.title = title;
    item.tag = tag;
    return item;
}

bool isIndex(std::int32_t tag, qint64 count) {
    return tag >= 0 && tag < count;
}

} // namespace

Workspaces::Workspaces(Session& session) : mSession(session) {}

void Workspaces::captureWorkspace(const QString& name, const QString& keyChars,
                                  quint64 modifierFlags, std::int32_t keyCode) {
    QVariantMap current = mSession.dictionaryRepresentationOfCurrentSession();
    current.remove(key(Session::kWorkspacesKey));
    const QVariantMap workspace{
        {key(kSessionKey), current},
        {key(kNameKey), name.isNull() ? QStringLiteral("") : name},
        {key(kKeyKey), keyChars.isNull() ? QStringLiteral("") : keyChars},
        {key(kModifierKey), QVariant::fromValue<quint64>(modifierFlags)},
        {key(kKeyCodeKey), storedKeyCode(keyCode)},
    };
    mSession.workspaces().append(workspace);
    mSession.setCurrentWorkspace(std::int32_t(mSession.workspaces().size() - 1));
}

void Workspaces::restoreWorkspace(std::int32_t tag, bool updateBeforeRecall) {
    if (updateBeforeRecall) {
        if (tag == mSession.currentWorkspace())
            return;
        updateCurrentWorkspace();
    }
    mSession.setCurrentWorkspace(tag);
    try {
        QVariantMap toLoad;
        if (tag == Session::kShadowWorkspaceTag) {
            if (!mSession.shadowWorkspace())
                throw std::out_of_range("there is no shadow workspace");
            toLoad = sessionOf(*mSession.shadowWorkspace());
        } else {
            mSession.shadowWorkspace().reset();
            toLoad = sessionOf(workspaceDictionaryAtIndex(tag));
            QVariantMap leaving = mSession.dictionaryRepresentationOfCurrentSession();
            leaving.remove(key(Session::kWorkspacesKey));
            mSession.shadowWorkspace() = QVariantMap{{key(kSessionKey), leaving}};
        }
        toLoad.remove(key(Session::kAudioDeviceSettingsKey));
        // The recalled workspace stays current whatever its session says.
        toLoad.remove(key(Session::kCurrentWorkspaceKey));
        const KeepWorkspaceList keep(mSession);
        mSession.loadSessionFromDictionary(toLoad, true);
    } catch (const std::exception& error) {
        koru::log::warn("workspace {} not recalled: {}", tag, error.what());
        mSession.setCurrentWorkspace(-1);
    }
}

void Workspaces::updateCurrentWorkspace() {
    const std::int32_t current = mSession.currentWorkspace();
    QVariantList& list = mSession.workspaces();
    if (!isIndex(current, list.size())) {
        mSession.setCurrentWorkspace(-1);
        return;
    }
    QVariantMap workspace = list[current].toMap();
    workspace.insert(key(kSessionKey), mSession.dictionaryRepresentationOfCurrentSession());
    list[current] = workspace;
}

qint64 Workspaces::numberOfWorkspaces() const {
    return mSession.workspaces().size();
}

QVariantMap Workspaces::workspaceDictionaryAtIndex(qint64 index) const {
    if (index < 0 || index >= numberOfWorkspaces())
        throw std::out_of_range("no workspace at index " + std::to_string(index));
    return mSession.workspaces().at(index).toMap();
}

void Workspaces::setWorkspace(const std::optional<QVariantMap>& workspace, qint64 index) {
    QVariantList& list = mSession.workspaces();
    if (index < 0 || index >= list.size())
        return;
    if (workspace) {
        list[index] = *workspace;
        return;
    }
    list.removeAt(index);
    // Left alone, the current index would name the workspace after the deleted one, and the
    // next update would overwrite that one with the live state.
    const std::int32_t current = mSession.currentWorkspace();
    if (current == index)
        mSession.setCurrentWorkspace(-1);
    else if (current > index && current != Session::kShadowWorkspaceTag)
        mSession.setCurrentWorkspace(current - 1);
}

std::int32_t Workspaces::keyCodeOf(const QVariantMap& workspace) {
    const QVariant stored = workspace.value(key(kKeyCodeKey));
    if (!ZODictionary::isNumber(stored))
        return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(stored.toULongLong()));
}

QVariant Workspaces::storedKeyCode(std::int32_t keyCode) {
    return QVariant::fromValue<quint64>(static_cast<quint64>(static_cast<qint64>(keyCode)));
}

std::vector<Workspaces::MenuItem> Workspaces::menuItems() const {
    std::vector<MenuItem> items;
    items.push_back(menuItem(MenuAction::Capture, QStringLiteral("Capture Workspace")));
    const QVariantList& list = mSession.workspaces();
    if (list.isEmpty())
        return items;
    items.push_back({});
    items.push_back(menuItem(MenuAction::Edit, QStringLiteral("Edit Workspaces\u2026")));
    const std::int32_t current = mSession.currentWorkspace();
    MenuItem update = menuItem(MenuAction::Update, QStringLiteral("Update Current Workspace"));
    update.enabled = isIndex(current, list.size());
    if (update.enabled)
        update.title = QStringLiteral("Update Workspace \"%1\"")
                           .arg(list.at(current).toMap().value(key(kNameKey)).toString());
    items.push_back(update);
    items.push_back({});
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QVariantMap workspace = list.at(i).toMap();
        MenuItem item = menuItem(MenuAction::Restore, workspace.value(key(kNameKey)).toString(),
                                 std::int32_t(i));
        item.key = workspace.value(key(kKeyKey)).toString();
        item.modifiers = workspace.value(key(kModifierKey)).toULongLong();
        item.checked = i == current;
        items.push_back(item);
    }
    if (mSession.shadowWorkspace()) {
        items.push_back({});
        items.push_back(menuItem(MenuAction::Restore, QStringLiteral("Shadow Workspace"),
                                 Session::kShadowWorkspaceTag));
    }
    return items;
}

} // namespace koru
