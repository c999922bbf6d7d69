#include "app/ui/KOMainToolbar.h"

#include "app/ui/KOToolbarCustomizationDialog.h"
#include "platform/defaults/UserDefaults.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSizePolicy>
#include <QToolButton>
#include <QWidget>
#include <QWidgetAction>

#include <array>
#include <cmath>

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

struct InstrumentItem {
    const char* identifier;
    const char* typeName;
};

// The instrument items and the kinds they add, in the order of the allowed list's tail.
constexpr std::array<InstrumentItem, 9> kInstrumentItems{{
    {"Analyzer", "KOFFTController"},
    {"Transfer", "KOTransferController"},
    {"Goniometer", "KOGoniometerController"},
    {"Spectral History", "KOSpectralHistoryController"},
    {"Input Meter", "KODeviceInPPMController"},
    {"Recorder", "KORecorderController"},
    {"Level History", "KOLevelHistoryController"},
    {"Net Send", "KONetSendController"},
    {"Oscilloscope", "KOOscilloscopeController"},
}};

// Our own artwork, drawn once per request: a simple glyph per item.
QIcon drawnIcon(const QString& identifier) {
    constexpr int kSize = 32;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(50, 90, 160);
    painter.setPen(QPen(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const auto wave = [&](double cycles, double amplitude, double phase) {
        QPainterPath path;
        for (int x = 3; x <= 29; ++x) {
            const double y =
                16.0 - amplitude * std::sin(phase + 2.0 * M_PI * cycles * (x - 3) / 26.0);
            if (x == 3)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        painter.drawPath(path);
    };
    if (identifier == QLatin1String("Analyzer")) {
        const std::array<int, 6> heights{8, 18, 24, 14, 10, 5};
        for (std::size_t k = 0; k < heights.size(); ++k)
            painter.fillRect(QRectF(4 + 4.2 * k, 28 - heights[k], 3, heights[k]), ink);
    } else if (identifier == QLatin1String("Transfer")) {
        painter.drawLine(3, 28, 29, 28);
        wave(0.5, 8.0, 0.0);
    } else if (identifier == QLatin1String("Goniometer")) {
        painter.drawEllipse(QRectF(6, 4, 20, 24));
        painter.drawLine(16, 4, 16, 28);
    } else if (identifier == QLatin1String("Spectral History")) {
        for (int row = 0; row < 5; ++row)
            painter.fillRect(QRectF(4, 4 + 5 * row, 24, 3),
                             QColor::fromHsv(200 + 30 * row, 180, 220));
    } else if (identifier == QLatin1String("Input Meter")) {
        painter.fillRect(QRectF(8, 10, 6, 18), ink);
        painter.fillRect(QRectF(18, 4, 6, 24), QColor(200, 60, 50));
    } else if (identifier == QLatin1String("Recorder")) {
        painter.setBrush(QColor(200, 40, 40));
        painter.drawEllipse(QRectF(7, 7, 18, 18));
    } else if (identifier == QLatin1String("Level History")) {
        painter.drawPolyline(QPolygonF({{3, 24}, {9, 14}, {14, 18}, {20, 8}, {29, 12}}));
    } else if (identifier == QLatin1String("Net Send")) {
        painter.drawLine(5, 16, 27, 16);
        painter.drawPolyline(QPolygonF({{19, 8}, {27, 16}, {19, 24}}));
    } else if (identifier == QLatin1String("Oscilloscope")) {
        painter.drawRect(QRectF(3, 5, 26, 22));
        wave(2.0, 6.0, 0.0);
    } else if (identifier == QLatin1String(KOMainToolbar::kAudioSettingsWindowItem) ||
               identifier == QLatin1String(KOMainToolbar::kAudioSettingsItem)) {
        for (int k = 0; k < 3; ++k) {
            const double x = 8 + 8 * k;
            painter.drawLine(QPointF(x, 4), QPointF(x, 28));
            painter.fillRect(QRectF(x - 3, 8 + 7 * ((k + 1) % 3), 7, 5), ink);
        }
    } else if (identifier == QLatin1String(KOMainToolbar::kAddInstrumentItem)) {
        painter.setPen(QPen(ink, 4.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(16, 6, 16, 26);
        painter.drawLine(6, 16, 26, 16);
    } else if (identifier == QLatin1String(KOMainToolbar::kCustomizeItem)) {
        painter.drawEllipse(QRectF(9, 9, 14, 14));
        for (int k = 0; k < 8; ++k) {
            const double a = k * M_PI / 4.0;
            painter.drawLine(QPointF(16 + 7 * std::cos(a), 16 + 7 * std::sin(a)),
                             QPointF(16 + 12 * std::cos(a), 16 + 12 * std::sin(a)));
        }
    } else {
        return {};
    }
    painter.end();
    return QIcon(pixmap);
}

QString itemTitle(const QString& identifier) {
    if (identifier == QLatin1String(KOMainToolbar::kFlexibleSpaceItem))
        return QObject::tr("Flexible Space");
    if (identifier == QLatin1String(KOMainToolbar::kSpaceItem))
        return QObject::tr("Space");
    if (identifier == QLatin1String(KOMainToolbar::kCustomizeItem))
        return QObject::tr("Customise Toolbar");
    return identifier;
}

} // namespace

KOMainToolbar::KOMainToolbar(Actions actions, koru::platform::UserDefaults& defaults,
                             QWidget* parent)
    : QToolBar(parent), m(std::move(actions)), mDefaults(defaults) {
    setObjectName(text(kIdentifier));
    setWindowTitle(tr("Toolbar"));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(24, 24));
    setMovable(false);
    const QVariant saved = mDefaults.objectForKey(text(kArrangementKey));
    if (saved.typeId() == QMetaType::QVariantList || saved.typeId() == QMetaType::QStringList) {
        QStringList identifiers;
        for (const QVariant& entry : saved.toList())
            identifiers << entry.toString();
        rebuild(identifiers);
    } else {
        rebuild(defaultItemIdentifiers());
    }
}

QStringList KOMainToolbar::defaultItemIdentifiers() {
    return {text(kAddInstrumentItem), text(kFlexibleSpaceItem), text(kAudioSettingsItem),
            text(kCustomizeItem)};
}

QStringList KOMainToolbar::allowedItemIdentifiers() {
    return {text(kAddInstrumentItem),      text(kAudioSettingsItem),
            QStringLiteral("Input Meter"), QStringLiteral("Goniometer"),
            QStringLiteral("Analyzer"),    QStringLiteral("Spectral History"),
            QStringLiteral("Transfer"),    QStringLiteral("Level History"),
            QStringLiteral("Net Send"),    QStringLiteral("Oscilloscope"),
            QStringLiteral("Recorder"),    text(kAudioSettingsWindowItem),
            text(kFlexibleSpaceItem),      text(kSpaceItem),
            text(kCustomizeItem)};
}

QString KOMainToolbar::instrumentTypeForItem(const QString& identifier) {
    for (const InstrumentItem& item : kInstrumentItems)
        if (identifier == QLatin1String(item.identifier))
            return text(item.typeName);
    return {};
}

QAction* KOMainToolbar::itemForItemIdentifier(const QString& identifier) {
    QAction* item = nullptr;
    const auto popUp = [&](QMenu* menu) {
        auto* button = new QToolButton(this);
        button->setIcon(drawnIcon(identifier));
        button->setToolTip(identifier);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setMenu(menu);
        button->setEnabled(menu != nullptr && !menu->isEmpty());
        button->setIconSize(iconSize());
        auto* action = new QWidgetAction(this);
        action->setDefaultWidget(button);
        return action;
    };
    if (identifier == QLatin1String(kFlexibleSpaceItem) ||
        identifier == QLatin1String(kSpaceItem)) {
        auto* space = new QWidget(this);
        if (identifier == QLatin1String(kFlexibleSpaceItem))
            space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        else
            space->setFixedWidth(iconSize().width());
        auto* action = new QWidgetAction(this);
        action->setDefaultWidget(space);
        item = action;
    } else if (identifier == QLatin1String(kAddInstrumentItem)) {
        item = popUp(m.addInstrumentMenu);
    } else if (identifier == QLatin1String(kAudioSettingsItem)) {
        item = popUp(m.audioSettingsMenu);
    } else {
        item = new QAction(this);
        item->setIcon(drawnIcon(identifier));
        if (identifier == QLatin1String(kAudioSettingsWindowItem)) {
            connect(item, &QAction::triggered, this, [this] {
                if (m.showAudioSettingsWindow)
                    m.showAudioSettingsWindow();
            });
        } else if (identifier == QLatin1String(kCustomizeItem)) {
            // Queued: the dialog rebuilds the toolbar, this item included.
            connect(
                item, &QAction::triggered, this, [this] { runCustomizationPalette(); },
                Qt::QueuedConnection);
        } else if (const QString type = instrumentTypeForItem(identifier); !type.isEmpty()) {
            item->setEnabled(!m.offersInstrument || m.offersInstrument(type));
            connect(item, &QAction::triggered, this, [this, type] {
                if (m.addInstrument)
                    m.addInstrument(type);
            });
        } else {
            item->setEnabled(false);
        }
    }
    // Label and palette label are the identifier; only the tooltip shows it (icons only).
    item->setText(itemTitle(identifier));
    item->setToolTip(itemTitle(identifier));
    item->setProperty(kIdentifierProperty, identifier);
    return item;
}

QStringList KOMainToolbar::itemIdentifiers() const {
    QStringList identifiers;
    for (const QAction* item : actions())
        identifiers << item->property(kIdentifierProperty).toString();
    return identifiers;
}

QAction* KOMainToolbar::itemWithIdentifier(const QString& identifier) const {
    for (QAction* item : actions())
        if (item->property(kIdentifierProperty).toString() == identifier)
            return item;
    return nullptr;
}

void KOMainToolbar::setItemIdentifiers(const QStringList& identifiers) {
    rebuild(identifiers);
    mDefaults.setObject(text(kArrangementKey), QVariant(itemIdentifiers()));
}

void KOMainToolbar::rebuild(const QStringList& identifiers) {
    const QList<QAction*> old = actions();
    clear();
    for (QAction* item : old)
        item->deleteLater();
    const QStringList allowed = allowedItemIdentifiers();
    QStringList shown;
    for (const QString& identifier : identifiers) {
        // A damaged or outdated arrangement loses what no longer exists and its repeats.
        if (!allowed.contains(identifier))
            continue;
        if (shown.contains(identifier) && !KOToolbarCustomizationDialog::isRepeatable(identifier))
            continue;
        shown << identifier;
        addAction(itemForItemIdentifier(identifier));
    }
}

void KOMainToolbar::runCustomizationPalette() {
    KOToolbarCustomizationDialog dialog(allowedItemIdentifiers(), defaultItemIdentifiers(),
                                        itemIdentifiers(), itemTitle, this);
    if (dialog.exec() == QDialog::Accepted)
        setItemIdentifiers(dialog.identifiers());
}
