#ifndef READ_RESULT_H
#define READ_RESULT_H

#include <QString>
#include <optional>
#include <utility>

// What a reader found, or the message that says why it found nothing; the front end decides
// how to show the message.
template <class T> struct read_result {
    std::optional<T> value;
    QString failure;

    static read_result ok(T found) { return {std::move(found), {}}; }
    static read_result failed(const QString &message) { return {std::nullopt, message}; }
    explicit operator bool() const { return value.has_value(); }
    T value_or_empty() const { return value.value_or(T()); }
};

#endif
