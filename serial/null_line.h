// A line with no device behind it, for what drives the core without a port (the
// benchmarks, the fuzz targets, tests of the classifier): every open fails and
// nothing is sent; the classifier's timer stops are counted.
#pragma once

#include "serial/line.h"

namespace ostrakan {

class NullLine : public Line {
public:
    int open(const char*) override { return kPortOpenFailed; }
    bool isOpen() const override { return false; }
    void close() override {}
    void handOff() override {}
    void stopGapTimer() override { ++gapTimerStops; }
    void releaseBurst() override {}
    bool lost() const override { return false; }

    int gapTimerStops = 0;
};

}  // namespace ostrakan
