// Average.h - windowed smoothing of one axis of a tag's positions: moving average
// (process_ma) and mean without the window's largest and smallest sample (process_me).
//
// Six instances live in every Tag (ma[3], me[3]). Owned by one selector job's thread:
// no lock. Constant storage: the ring is part of the record.
#pragma once

#include <armadillo>

class Average {
public:
    static constexpr int kRingSize = 1024;
    static constexpr int kTagWindow = 9;          // what every Tag starts with
    static constexpr int kMinMovingLength = 1;    // process_ma
    static constexpr int kMinTrimmedLength = 3;   // process_me drops two samples

    // Window of kTagWindow slots.
    Average();
    // A length outside 1..1024 is brought to the nearest valid one.
    explicit Average(int len);

    // Changes the window without clearing the ring. A length outside min_len..1024 is
    // refused (false) and the old window stays; pass kMinTrimmedLength for a filter used
    // with process_me. An accepted length recomputes `sum` over the new window and brings
    // the write position into it.
    bool Configure(int len, int min_len = kMinMovingLength);

    double process_ma(double x);
    // With a window shorter than kMinTrimmedLength (only reachable through a Configure
    // that allowed it) nothing can be trimmed: the plain window mean is returned.
    double process_me(double x);

    double buffer[kRingSize];  // the window's samples, a ring; unwritten slots are 0
    double sum;                // running sum of the moving average
    int inPtr;                 // next slot to write
    int filterLength;          // slots in use
    int filterCount;           // samples since construction or the last Configure
};

// out(i) = a[i].process_ma(in(i)) (or process_me) for i = 0, 1, 2. `a` points at three
// filters. An `in` of fewer than three elements leaves everything unchanged; `out` is
// grown to three elements when shorter.
void Motion_Filter_MA(Average* a, const arma::rowvec& in, arma::rowvec& out);
void Motion_Filter_ME(Average* a, const arma::rowvec& in, arma::rowvec& out);
