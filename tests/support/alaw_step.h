// The width, in 16-bit units, of the A-law quantisation interval that holds
// the magnitude m: 16 below 512, then doubling at each segment start up to
// 1024 from 16384.
#pragma once

namespace olva_test {

inline int alawStep(int m)
{
    int step = 16;
    for (int edge = 512; m >= edge && edge <= 16384; edge *= 2)
        step *= 2;
    return step;
}

}  // namespace olva_test
