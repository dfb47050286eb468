#ifndef MESSAGE_CATCHER_H
#define MESSAGE_CATCHER_H

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <functional>

// Closes every modal message box the tool opens while it lives, recording its
// text, and answers questions with the chosen button. Other modal windows
// (the directory chooser) go to on_other_modal, if set.
class message_catcher
{
public:
    explicit message_catcher(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer(answer)
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }

    // How a box was shown, beyond its text.
    struct shown_box {
        QString title;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton default_button;
        QWidget *parent;
    };

    QStringList texts;
    QList<shown_box> boxes;
    QMessageBox::StandardButton answer;
    std::function<void(QWidget *)> on_other_modal;
    // Called while each message box is open, before it is answered.
    std::function<void()> on_box;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            if (on_other_modal)
                on_other_modal(modal);
            return;
        }
        if (on_box)
            on_box();
        texts << box->text();
        boxes << shown_box{box->windowTitle(), box->standardButtons(),
                           box->standardButton(box->defaultButton()), box->parentWidget()};
        QAbstractButton *button = box->button(answer);
        if (!button)
            button = box->buttons().value(0);
        if (button)
            button->click();
    }

    QTimer timer;
};

#endif
