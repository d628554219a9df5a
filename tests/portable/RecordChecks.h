// Shorthands for asserting on a decoded record and its trace records.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RecordingSink.h"
#include "TraceRecorder.h"

namespace record_checks {

using Names = std::vector<std::string>;
using Types = std::vector<ValueType>;
using Texts = std::vector<std::string>;

inline Types TypesOf(const RecordingSink& sink) {
    Types types;
    for (const auto& a : sink.attributes)
        types.push_back(a.type);
    return types;
}

// Names behind the three header attributes.
inline Names Body(const RecordingSink& sink) {
    Names names = sink.Names();
    return Names(names.begin() + std::min<size_t>(3, names.size()), names.end());
}

// Details of the level-1 records written since the last Clear().
inline Texts Errors() {
    Texts details;
    for (const auto& r : TraceRecorder::Records())
        if (r.level == 1) details.push_back(r.details);
    return details;
}

// Decodes with a fresh trace; the records begin with Enter and end with the
// level-3 Leave record.
template <class D> AppendResult Decode(const Bytes& bytes, RecordingSink& sink) {
    TraceRecorder::Clear();
    const AppendResult result = DecodeBytes<D>(bytes, sink);
    const auto& records = TraceRecorder::Records();
    EXPECT_GE(records.size(), 2u);
    if (records.size() >= 2) {
        EXPECT_EQ(records.front().category, "Enter");
        EXPECT_EQ(records.back().category, "Leave");
        EXPECT_EQ(records.back().level, 3u);
    }
    return result;
}

} // namespace record_checks
