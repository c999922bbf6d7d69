#include "framework/ControlPopover.h"

#include <QApplication>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace koru::framework {

ControlPopover::ControlPopover(QWidget* owner)
    : QFrame(owner, Qt::Tool | Qt::FramelessWindowHint), m_owner(owner) {
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
}

ControlPopover::~ControlPopover() {
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

void ControlPopover::setContentWidget(QWidget* content) {
    if (content == m_content)
        return;
    if (m_content)
        m_content->hide();
    m_content = content;
    if (!content)
        return;
    layout()->addWidget(content);
    content->show();
}

void ControlPopover::showRelativeToView(QWidget* view) {
    m_anchor = view;
    adjustSize();
    if (view) {
        const QPoint edge = view->mapToGlobal(QPoint(view->width(), view->height() / 2));
        move(edge.x(), edge.y() - height() / 2);
    }
    show();
    raise();
}

bool ControlPopover::pressClosesPopover(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !m_owner || widget->window() != m_owner->window())
        return false;
    if (widget == this || isAncestorOf(widget))
        return false;
    for (const QWidget* exempt : {m_anchor.data(), m_toggleButton.data()}) {
        if (exempt && (widget == exempt || exempt->isAncestorOf(widget)))
            return false;
    }
    return true;
}

bool ControlPopover::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && pressClosesPopover(watched))
        hide();
    return QFrame::eventFilter(watched, event);
}

void ControlPopover::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    qApp->installEventFilter(this);
    emit visibilityChanged(true);
}

void ControlPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    qApp->removeEventFilter(this);
    emit visibilityChanged(false);
}

void ControlPopover::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace koru::framework
