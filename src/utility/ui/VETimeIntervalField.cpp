#include "utility/ui/VETimeIntervalField.h"

#include "utility/NumberScanner.h"
#include "utility/ValueBinding.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QTimer>

#include <fmt/format.h>

#include <cmath>

VETimeIntervalField::VETimeIntervalField(QWidget* parent) : QLineEdit(parent) {
    // Read-only to Qt: no free typing, no insertion point; the keys are ours.
    setReadOnly(true);
    setAcceptDrops(false);
    setText(VEStringFromTimeInterval(0.0));
}

// --- Value ---------------------------------------------------------------------------------------

void VETimeIntervalField::setTimeInterval(double seconds) {
    if (std::isnan(seconds))
        return;
    const int component = selectedComponent();
    const bool changed = seconds != mTimeInterval;
    mTimeInterval = seconds;
    mHasValue = true;
    setText(VEStringFromTimeInterval(seconds));
    if (hasFocus())
        setSelectedComponent(component);
    if (changed)
        emit timeIntervalChanged(seconds);
}

void VETimeIntervalField::setStringValue(const QString& text) {
    mHasValue = false;
    QVariant parsed;
    if (mFormatter.getObjectValue(parsed, text))
        setTimeInterval(parsed.toDouble());
}

void VETimeIntervalField::setObjectValue(const QVariant& value) {
    mHasValue = false;
    if (value.typeId() == QMetaType::QString || !value.canConvert<double>())
        return;
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (ok)
        setTimeInterval(seconds);
}

QVariant VETimeIntervalField::objectValue() const {
    return mHasValue ? QVariant(mTimeInterval) : QVariant();
}

void VETimeIntervalField::setValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        setStringValue(value.toString());
    else if (value.isValid() && value.canConvert<double>())
        setObjectValue(value);
}

// --- Components ----------------------------------------------------------------------------------

std::pair<int, int> VETimeIntervalField::componentRange(int component) const {
    static const QRegularExpression hoursPattern(QStringLiteral("-*[0-9]+"));
    const QRegularExpressionMatch hours = hoursPattern.match(text());
    const int length = hours.hasMatch() ? int(hours.capturedLength()) : 0;
    switch (component) {
    case kHours:
        return {hours.hasMatch() ? int(hours.capturedStart()) : 0, length};
    case kMinutes:
        return {length + 1, 2};
    default:
        return {length + 4, 2};
    }
}

int VETimeIntervalField::selectedComponent() const {
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    for (int component : {kHours, kMinutes, kSeconds}) {
        const auto [location, length] = componentRange(component);
        if (start >= location && start < location + length)
            return component;
    }
    return kHours;
}

void VETimeIntervalField::setSelectedComponent(int component) {
    if (component < kHours || component > kSeconds)
        return;
    const auto [location, length] = componentRange(component);
    setSelection(location, length);
}

void VETimeIntervalField::moveForward() {
    mNumEntered = 0;
    setSelectedComponent((selectedComponent() + 1) % 3);
}

void VETimeIntervalField::moveBackward() {
    mNumEntered = 0;
    setSelectedComponent((selectedComponent() + 2) % 3);
}

void VETimeIntervalField::selectComponentAt(int position) {
    setCursorPosition(position);
    setSelectedComponent(selectedComponent());
}

// --- Keys ----------------------------------------------------------------------------------------

// Qt moves the focus on Tab and Back-tab before the key reaches keyPressEvent.
bool VETimeIntervalField::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && !key->modifiers().testFlag(Qt::ShiftModifier)) {
            moveForward();
            return true;
        }
        if (key->key() == Qt::Key_Backtab ||
            (key->key() == Qt::Key_Tab && key->modifiers().testFlag(Qt::ShiftModifier))) {
            moveBackward();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void VETimeIntervalField::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copyInterval();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteInterval();
        return;
    }
    const int component = selectedComponent();
    VETimeIntervalComponents c;
    VETimeIntervalGetComponents(mTimeInterval, c);
    std::int32_t* target = component == kHours     ? &c.hours
                           : component == kMinutes ? &c.minutes
                                                   : &c.seconds;
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.front() >= QLatin1Char('0') &&
        typed.front() <= QLatin1Char('9')) {
        *target =
            std::int32_t((std::int64_t(*target) * 10 + (typed.front().unicode() - '0')) % 100);
        ++mNumEntered;
        applyComponents(c, component);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
        *target += c.sign;
        applyComponents(c, component);
        return;
    case Qt::Key_Down:
        *target -= c.sign;
        applyComponents(c, component);
        return;
    case Qt::Key_Backspace:
        *target = 0;
        applyComponents(c, component);
        return;
    case Qt::Key_Delete:
        c.hours = c.minutes = c.seconds = 0;
        applyComponents(c, component);
        return;
    case Qt::Key_Right:
        moveForward();
        return;
    case Qt::Key_Left:
        moveBackward();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        QLineEdit::keyPressEvent(event);
        return;
    default:
        event->ignore();
        return;
    }
}

void VETimeIntervalField::applyComponents(const VETimeIntervalComponents& components,
                                          int component) {
    edit(VETimeIntervalFromComponents(components));
    // The hours may have changed width: the range is found again.
    setSelectedComponent(component);
    if (mNumEntered == 2)
        moveForward();
}

void VETimeIntervalField::edit(double seconds) {
    setTimeInterval(seconds);
    propagateIntervalValue();
    emit intervalEdited(mTimeInterval);
}

void VETimeIntervalField::propagateIntervalValue() const {
    koru::utility::ValueBinding::propagateValue(*this, QStringLiteral("value"), mTimeInterval,
                                                "-[VETimeIntervalCell(Private) "
                                                "propagateIntervalValue]");
}

// --- Mouse and focus
// -------------------------------------------------------------------------------

void VETimeIntervalField::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    mNumEntered = 0;
    selectComponentAt(cursorPosition());
}

// Dragging never selects across components.
void VETimeIntervalField::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void VETimeIntervalField::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void VETimeIntervalField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    mNumEntered = 0;
    // Qt selects the whole text on focus; wait for that, then keep one component.
    QTimer::singleShot(0, this, [this] { setSelectedComponent(selectedComponent()); });
}

void VETimeIntervalField::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu;
    menu.addAction(QStringLiteral("Copy"), this, [this] { copyInterval(); });
    QAction* paste = menu.addAction(QStringLiteral("Paste"), this, [this] { pasteInterval(); });
    paste->setEnabled(clipboardHoldsInterval());
    menu.exec(event->globalPos());
}

// --- Clipboard
// -------------------------------------------------------------------------------------

void VETimeIntervalField::copyInterval() const {
    auto* data = new QMimeData;
    data->setData(kMimeType, QByteArray::fromStdString(fmt::format("{}", mTimeInterval)));
    QGuiApplication::clipboard()->setMimeData(data);
}

bool VETimeIntervalField::clipboardHoldsInterval() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasFormat(kMimeType);
}

bool VETimeIntervalField::pasteInterval() {
    if (!clipboardHoldsInterval())
        return false;
    const QByteArray text = QGuiApplication::clipboard()->mimeData()->data(kMimeType);
    const auto seconds = koru::utility::NumberScanner::leadingDouble(
        std::string_view(text.constData(), std::size_t(text.size())));
    if (!seconds)
        return false;
    const int component = selectedComponent();
    edit(*seconds);
    setSelectedComponent(component);
    return true;
}
