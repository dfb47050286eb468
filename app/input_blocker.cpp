#include "app/input_blocker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

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

} // namespace

input_blocker::input_blocker(QWidget *window, const QList<QWidget *> &inputs) : window(window)
{
    QCoreApplication::instance()->installEventFilter(this);
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
}

bool input_blocker::eventFilter(QObject *target, QEvent *event)
{
    const auto *widget = qobject_cast<const QWidget *>(target);
    if (!widget || widget->window() != window || !is_input_or_close(event->type()))
        return false;
    event->ignore();
    return true;
}
