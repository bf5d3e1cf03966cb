// What oversampling does to the sound, measured: the decimator's response, and aliasing
// against the physical limit.
#include <gtest/gtest.h>

#include "oversampling_measures.h"

namespace {

// The oversampling's filters, measured from impulses through the decimator, pass 0 to
// 0.42 of the output rate within 0.1 dB and stop from 0.5 of it on by 90 dB.
TEST(Oversampling, TheDecimatorPassesTheBandAndStopsWhatWouldFold) {
    for (const int factor : {2, 4, 8}) {
        const oversampling::Response response = oversampling::decimatorResponse(factor);
        EXPECT_LT(response.ripple, 0.1) << factor << "x";
        EXPECT_GT(response.rejection, 90.0) << factor << "x";
    }
}

// Aliasing at 8x comes within 1 dB of the physical limit (bench/RESULTS.md has the
// figures at each factor).
TEST(Oversampling, EightfoldOversamplingAliasesNearlyAsLittleAsAnIdealFilter) {
    const double ideal = oversampling::ideal(), eightfold = oversampling::atFactor(8),
                 plain = oversampling::atFactor(1);
    EXPECT_LT(eightfold, ideal + 1.0) << "ideal " << ideal << " dB";
    EXPECT_GT(plain, eightfold + 10.0) << "without oversampling";
}

}  // namespace
