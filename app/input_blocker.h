#ifndef INPUT_BLOCKER_H
#define INPUT_BLOCKER_H

#include <QList>
#include <QObject>
#include <QPointer>

class QAbstractScrollArea;
class QWidget;

// While it lives, the window still repaints but takes no input and does not close, so a run
// that lets the event loop turn cannot be started twice, cut short or handed another package:
// the given input widgets are disabled (which also shows that the tool is busy), and clicks,
// keys and close requests aimed at the window are dropped. The one view given may still be
// scrolled (wheel, scroll bars), which changes nothing else. Message boxes are windows of
// their own and stay usable. Input that queued up meanwhile is dropped before the widgets
// take input again; the focus then goes back where it was.
class input_blocker : public QObject
{
public:
    input_blocker(QWidget *window, const QList<QWidget *> &inputs,
                  QAbstractScrollArea *scrollable = nullptr);
    ~input_blocker() override;

protected:
    bool eventFilter(QObject *target, QEvent *event) override;

private:
    bool scrolls(const QWidget *target, const QEvent *event) const;

    QWidget *window;
    QAbstractScrollArea *scrollable;
    QList<QPointer<QWidget>> disabled;
    QPointer<QWidget> focused;
};

#endif
