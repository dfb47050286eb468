#include "app/input_blocker.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QScrollBar>

namespace
{

bool is_input_or_close(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::Drop:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

bool is_mouse_button_or_wheel(QEvent::Type type)
{
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
           type == QEvent::MouseButtonDblClick || type == QEvent::Wheel;
}

} // namespace

input_blocker::input_blocker(QWidget *window, const QList<QWidget *> &inputs,
                             QAbstractScrollArea *scrollable)
    : window(window), scrollable(scrollable)
{
    QCoreApplication::instance()->installEventFilter(this);
    // Disabling the focused input would hand the focus on to the next widget that takes it.
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus->window() == window) {
        focused = focus;
        focus->clearFocus();
    }
    for (QWidget *input : inputs)
        if (input->isEnabled()) {
            input->setEnabled(false);
            disabled << input;
        }
}

input_blocker::~input_blocker()
{
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(this);
    for (const QPointer<QWidget> &input : qAsConst(disabled))
        if (input)
            input->setEnabled(true);
    if (focused)
        focused->setFocus();
}

bool input_blocker::eventFilter(QObject *target, QEvent *event)
{
    const auto *widget = qobject_cast<const QWidget *>(target);
    if (!widget || widget->window() != window || !is_input_or_close(event->type()) ||
        scrolls(widget, event))
        return false;
    event->ignore();
    return true;
}

bool input_blocker::scrolls(const QWidget *target, const QEvent *event) const
{
    if (!scrollable || !is_mouse_button_or_wheel(event->type()))
        return false;
    if (target == scrollable->viewport())
        return event->type() == QEvent::Wheel;
    return qobject_cast<const QScrollBar *>(target) && scrollable->isAncestorOf(target);
}
