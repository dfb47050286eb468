#ifndef PROGRESS_DELEGATE_H
#define PROGRESS_DELEGATE_H

#include <QStyledItemDelegate>

// A Status cell's progress, 0 to 100, beside its text: the text stays the word people and
// screen readers read.
constexpr int progress_role = Qt::UserRole + 1;
// True once the run stopped at this cell's row: its bar stays where it stopped, in red.
constexpr int stopped_role = Qt::UserRole + 2;

// Paints a bar behind a cell's text that fills with the cell's progress, red once stopped.
class progress_delegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};

#endif
