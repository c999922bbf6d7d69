#include "KOInstrumentControlView.h"

#include "ColourWell.h"
#include "ControlPropertyBinding.h"
#include "YUpGeometry.h"
#include "ZOIconButton.h"
#include "utility/ui/RangeSlider.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>

#include <cmath>

using koru::RangeSlider;
using koru::framework::ColourWell;
using koru::framework::ControlPropertyBinding;
using koru::framework::YUpGeometry;

namespace {

constexpr double kSliderLabelOffset = 15.0;
constexpr double kPopUpLabelOffset = 17.0;
constexpr int kIconSide = 11;

// Calls the action with the sender while the target lives.
template <typename Signal, typename Control>
void wire(Control* control, Signal signal, QObject* target,
          KOInstrumentControlView::Action action) {
    QObject* context = target != nullptr ? target : control;
    QObject::connect(control, signal, context,
                     [control, action = std::move(action)] { action(control); });
}

// Our own artwork for the two overlay buttons, drawn rather than shipped.
QIcon settingsIcon() {
    QPixmap image(kIconSide * 2, kIconSide * 2);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::white, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(5.5, 5.5), 4.0, 4.0);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(5.5, 5.5), 1.5, 1.5);
    painter.end();
    return QIcon(image);
}

QIcon rotationIcon() {
    QPixmap image(kIconSide * 2, kIconSide * 2);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::white, 1.2));
    painter.drawArc(QRectF(1.5, 1.5, 8.0, 8.0), 90 * 16, 270 * 16);
    QPainterPath head;
    head.moveTo(5.5, 0.0);
    head.lineTo(8.5, 1.5);
    head.lineTo(5.5, 3.0);
    head.closeSubpath();
    painter.fillPath(head, Qt::white);
    painter.end();
    return QIcon(image);
}

} // namespace

KOInstrumentControlView::KOInstrumentControlView(QWidget* parent)
    : KOInstrumentControlBackground(parent) {}

QFont KOInstrumentControlView::miniFont() {
    QFont font = QApplication::font();
    font.setPixelSize(9);
    return font;
}

void KOInstrumentControlView::place(QWidget* control, const QRectF& frame) {
    control->setFont(miniFont());
    control->setGeometry(YUpGeometry::reflected(frame, height()).toRect());
    control->show();
}

void KOInstrumentControlView::addLabelAbove(const QRectF& frame, double offset,
                                            const QString& text) {
    addLabelAtRect(QRectF(frame.x(), frame.y() + offset, frame.width(), kMiniHeight), text);
}

QSlider* KOInstrumentControlView::addSliderWithFrame(const QRectF& frame, QObject* target,
                                                     Action action) {
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setTracking(true);
    slider->setFocusPolicy(Qt::NoFocus);
    place(slider, frame);
    if (target != nullptr && action) {
        wire(slider, &QSlider::valueChanged, target, std::move(action));
    }
    return slider;
}

QSlider* KOInstrumentControlView::addSliderWithFrame(const QRectF& frame, QObject* target,
                                                     Action action, const QString& label) {
    QSlider* slider = addSliderWithFrame(frame, target, std::move(action));
    addLabelAbove(frame, kSliderLabelOffset, label);
    return slider;
}

RangeSlider* KOInstrumentControlView::addDoubleSliderWithFrame(const QRectF& frame, QObject* target,
                                                               Action action) {
    auto* slider = new RangeSlider(this);
    place(slider, frame);
    if (target != nullptr && action) {
        wire(slider, &RangeSlider::valuesChanged, target, std::move(action));
    }
    return slider;
}

RangeSlider* KOInstrumentControlView::addDoubleSliderWithFrame(const QRectF& frame, QObject* target,
                                                               Action action,
                                                               const QString& label) {
    RangeSlider* slider = addDoubleSliderWithFrame(frame, target, std::move(action));
    addLabelAbove(frame, kSliderLabelOffset, label);
    return slider;
}

QComboBox* KOInstrumentControlView::addPopUpButtonWithFrame(const QRectF& frame, QObject* target,
                                                            Action action) {
    auto* popUp = new QComboBox(this);
    place(popUp, QRectF(frame.x(), frame.y(), frame.width(), kMiniHeight));
    if (action) {
        wire(popUp, &QComboBox::activated, target, std::move(action));
    }
    return popUp;
}

QComboBox* KOInstrumentControlView::addPopUpButtonWithFrame(const QRectF& frame, QObject* target,
                                                            Action action, const QString& label) {
    QComboBox* popUp = addPopUpButtonWithFrame(frame, target, std::move(action));
    addLabelAbove(frame, kPopUpLabelOffset, label);
    return popUp;
}

QComboBox* KOInstrumentControlView::addPopUpButtonWithFrame(const QRectF& frame,
                                                            const QMenu& menu) {
    QComboBox* popUp = addPopUpButtonWithFrame(frame, nullptr, Action());
    for (const QAction* item : menu.actions()) {
        if (!item->isSeparator()) {
            popUp->addItem(item->text(), item->data());
        }
    }
    addLabelAbove(frame, kPopUpLabelOffset, menu.title());
    return popUp;
}

ColourWell* KOInstrumentControlView::addColorWellWithFrame(const QRectF& frame, QObject* target,
                                                           Action action) {
    auto* well = new ColourWell(this);
    place(well, frame);
    if (action) {
        wire(well, &ColourWell::colorChanged, target, std::move(action));
    }
    return well;
}

ColourWell* KOInstrumentControlView::addColorWellWithFrame(const QRectF& frame, QObject* object,
                                                           const char* property) {
    ColourWell* well = addColorWellWithFrame(frame, nullptr, Action());
    auto* binding = new ControlPropertyBinding(
        object, property, [well](const QVariant& value) { well->setColor(value.value<QColor>()); },
        well);
    connect(well, &ColourWell::colorChanged, binding,
            [binding](const QColor& colour) { binding->write(colour); });
    return well;
}

QLabel* KOInstrumentControlView::addLabelAtRect(const QRectF& rect, const QString& text) {
    auto* label = new QLabel(text, this);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setAutoFillBackground(false);
    label->setFrameShape(QFrame::NoFrame);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgbF(0.75f, 0.75f, 0.75f, 1.0f));
    label->setPalette(palette);
    place(label, rect);
    return label;
}

QPushButton* KOInstrumentControlView::addButtonWithFrame(const QRectF& frame, QObject* target,
                                                         Action action) {
    auto* button = new QPushButton(QString(), this);
    button->setFocusPolicy(Qt::NoFocus);
    place(button, frame);
    if (action) {
        wire(button, &QPushButton::clicked, target, std::move(action));
    }
    return button;
}

QCheckBox* KOInstrumentControlView::addCheckBoxWithFrame(const QRectF& frame, QObject* target,
                                                         Action action, const QString& label) {
    auto* box = new QCheckBox(label, this);
    box->setFocusPolicy(Qt::NoFocus);
    place(box, frame);
    if (action) {
        wire(box, &QCheckBox::clicked, target, std::move(action));
    }
    return box;
}

QCheckBox* KOInstrumentControlView::addCheckBoxWithFrame(const QRectF& frame, QObject* object,
                                                         const char* property,
                                                         const QString& label) {
    QCheckBox* box = addCheckBoxWithFrame(frame, nullptr, Action(), label);
    auto* binding = new ControlPropertyBinding(
        object, property,
        [box](const QVariant& value) {
            const QSignalBlocker blocker(box);
            box->setChecked(value.toBool());
        },
        box);
    connect(box, &QCheckBox::toggled, binding,
            [binding](bool checked) { binding->write(checked); });
    return box;
}

ZOIconButton* KOInstrumentControlView::addSettingsButtonAtPoint(QPointF point, QObject* target) {
    auto* button = new ZOIconButton(point, settingsIcon(), this);
    button->setIconSize(QSize(kIconSide, kIconSide));
    button->setToolTip(kSettingsToolTip);
    if (target != nullptr) {
        connect(button, &QToolButton::clicked, target, [target, button] {
            QMetaObject::invokeMethod(target, "showControlPanel",
                                      Q_ARG(QWidget*, static_cast<QWidget*>(button)));
        });
    }
    button->show();
    return button;
}

ZOIconButton* KOInstrumentControlView::addRotationButtonAtPoint(QPointF point, QObject* target,
                                                                Action action) {
    auto* button = new ZOIconButton(point, rotationIcon(), this);
    button->setIconSize(QSize(kIconSide, kIconSide));
    if (action) {
        wire(button, &QToolButton::clicked, target, std::move(action));
    }
    button->show();
    return button;
}

void KOInstrumentControlView::setFrameKeepingOrigin(QSizeF size) {
    const QRect current = geometry();
    const int width = int(std::lround(size.width()));
    const int height = int(std::lround(size.height()));
    // Children keep their distance from the bottom edge, as their frames are y-up.
    const int grown = height - current.height();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->move(child->x(), child->y() + grown);
    }
    setGeometry(current.x(), current.y() - grown, width, height);
}

void KOInstrumentControlView::setWidth(double width) {
    setFrameKeepingOrigin(QSizeF(width, this->height()));
}

void KOInstrumentControlView::setHeight(double height) {
    setFrameKeepingOrigin(QSizeF(width(), height));
}

void KOInstrumentControlView::setSize(QSizeF size) {
    setFrameKeepingOrigin(size);
}

void KOInstrumentControlView::placeInParent() {
    const QWidget* parent = parentWidget();
    if (parent == nullptr) {
        return;
    }
    const QRectF frame(parent->width() / 2.0 - width() / 2.0, kBottomMargin, width(), height());
    move(YUpGeometry::reflected(frame, parent->height()).topLeft().toPoint());
}

bool KOInstrumentControlView::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        placeInParent();
    }
    return KOInstrumentControlBackground::event(event);
}
