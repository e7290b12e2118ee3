// Argument checks: every pointer argument of a call nulled in turn.
#pragma once
#include <gtest/gtest.h>

#include "vekdc.h"

namespace vek::testing {

// Passed to the call under test: z(p, slot) is p, or nullptr when `slot` is
// the argument nulled in this round; z.is(slot) says whether it is.
struct NullSlot {
    int nulled;
    bool is(int slot) const { return nulled == slot; }
    template <typename T>
    T* operator()(T* p, int slot) const {
        return nulled == slot ? nullptr : p;
    }
};

// call(NullSlot{k}) for k = 0..count-1: each must be refused as a null pointer.
template <typename F>
void expect_each_null_refused(int count, F&& call) {
    for (int k = 0; k < count; ++k)
        EXPECT_EQ(call(NullSlot{k}), vekStatusNullPtrErr) << "argument slot " << k << " null";
}

}  // namespace vek::testing
