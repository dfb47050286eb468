#ifndef INPUT_BLOCKER_H
#define INPUT_BLOCKER_H

#include <QObject>

class QWidget;

// While it lives, the window still repaints but takes no clicks or keys and does not close,
// so a run that lets the event loop turn cannot be started twice or cut short. Message
// boxes are windows of their own and stay usable. Input that queued up meanwhile is dropped
// when it ends.
class input_blocker : public QObject
{
public:
    explicit input_blocker(QWidget *window);
    ~input_blocker() override;

protected:
    bool eventFilter(QObject *target, QEvent *event) override;

private:
    QWidget *window;
};

#endif
