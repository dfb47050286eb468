#include "upgrade/input_blocker.h"

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
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

} // namespace

input_blocker::input_blocker(QWidget *window) : window(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

input_blocker::~input_blocker()
{
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(this);
}

bool input_blocker::eventFilter(QObject *target, QEvent *event)
{
    const auto *widget = qobject_cast<const QWidget *>(target);
    if (!widget || widget->window() != window || !is_input_or_close(event->type()))
        return false;
    event->ignore();
    return true;
}
