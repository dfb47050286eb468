#include "gui/progress_delegate.h"

#include <QPainter>

void progress_delegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    const QVariant value = index.data(progress_role);
    if (value.isValid()) {
        QRect bar = option.rect;
        bar.setWidth(option.rect.width() * qBound(0, value.toInt(), 100) / 100);
        // Translucent, so the text stays readable in any palette; a row's own background
        // (a finished row's green) is painted over it.
        QColor color = index.data(stopped_role).toBool()
                           ? QColor(Qt::red)
                           : option.palette.color(QPalette::Highlight);
        color.setAlpha(96);
        painter->fillRect(bar, color);
    }
    QStyledItemDelegate::paint(painter, option, index);
}
