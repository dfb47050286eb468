#ifndef OUTCOME_H
#define OUTCOME_H

#include <QString>
#include <QStringList>

// The facts a sensor's link, check, upgrade or verification may end with; decisions are taken on
// these, never on a message's text.
enum class outcome_kind {
    ok,                 // it went as asked
    unanswered,         // nothing answered the connection: refused, reset, or no answer in time
    closed_by_sensor,   // the link was up, and the sensor closed it
    no_version,         // the link was up, but no version came
    failed,             // a step failed
    out_of_descriptors, // a file or socket could not be opened for want of a descriptor
    package_changed,    // a package file no longer reads as it was checked
    current,            // the sensor runs the package's version already
    refused,            // the update list or the downgrade rule refuses the package
    held_back,          // never started, for the reason the message gives
    interrupted,        // stopped by the operator
};

// What happened to a sensor: the fact, the window's texts for it in the order its boxes show
// them (none when there is nothing to say), and what they are about (a path and the system's
// reason; empty when there is nothing more).
struct outcome {
    outcome_kind kind = outcome_kind::ok;
    QStringList messages;
    QString detail;

    outcome() = default;
    explicit outcome(outcome_kind kind, const QString &message = {}, const QString &detail = {})
        : kind(kind), messages(message.isEmpty() ? QStringList() : QStringList(message)),
          detail(detail)
    {
    }

    bool is_ok() const { return kind == outcome_kind::ok; }
    // The messages as one text, a line each.
    QString message() const { return messages.join('\n'); }
};

#endif
