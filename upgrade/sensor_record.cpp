#include "upgrade/sensor_record.h"

record_result result_of(const sensor_record &record)
{
    const bool check = record.mode == run_mode::check;
    switch (record.result.kind) {
    case outcome_kind::ok:
        if (!check)
            return record_result::upgraded;
        return record.new_version.isEmpty() ? record_result::found : record_result::outdated;
    case outcome_kind::current:
        return check ? record_result::current : record_result::skipped;
    case outcome_kind::refused:
        return check ? record_result::refused : record_result::failed;
    case outcome_kind::held_back:
        return record_result::not_started;
    case outcome_kind::interrupted:
        return record_result::interrupted;
    case outcome_kind::unanswered:
        if (record.ranged)
            return record_result::empty;
        break;
    case outcome_kind::closed_by_sensor:
    case outcome_kind::no_version:
    case outcome_kind::failed:
    case outcome_kind::out_of_descriptors:
    case outcome_kind::package_changed:
        break;
    }
    return check ? record_result::unreachable : record_result::failed;
}

QString result_name(record_result result)
{
    const char *const names[] = {"upgraded", "skipped",     "failed",  "interrupted",
                                 "current",  "outdated",    "refused", "unreachable",
                                 "found",    "not_started", "empty"};
    return names[int(result)];
}
