#include "Average.h"

#include <algorithm>

namespace {

int clamp_length(int len)
{
    return std::clamp(len, Average::kMinMovingLength, Average::kRingSize);
}

}  // namespace

Average::Average() : Average(kTagWindow)
{
}

Average::Average(int len)
    : buffer{}, sum(0.0), inPtr(0), filterLength(clamp_length(len)), filterCount(0)
{
}

bool Average::Configure(int len, int min_len)
{
    if (len < std::max(min_len, kMinMovingLength) || len > kRingSize) {
        return false;
    }
    filterLength = len;
    filterCount = 0;
    // The running sum must cover exactly the new window, or the old window's samples
    // would bias every later output.
    sum = 0.0;
    for (int i = 0; i < filterLength; ++i) {
        sum += buffer[i];
    }
    inPtr %= filterLength;
    return true;
}

double Average::process_ma(double x)
{
    sum -= buffer[inPtr];
    sum += x;
    buffer[inPtr] = x;
    inPtr = (inPtr + 1) % filterLength;
    ++filterCount;
    return sum / filterLength;
}

double Average::process_me(double x)
{
    buffer[inPtr] = x;
    inPtr = (inPtr + 1) % filterLength;

    double max = buffer[0];
    double min = buffer[0];
    double s = buffer[0];
    for (int i = 1; i < filterLength; ++i) {
        const double v = buffer[i];
        if (v > max) {
            max = v;
        }
        if (v < min) {
            min = v;
        }
        s += v;
    }
    ++filterCount;
    if (filterLength < kMinTrimmedLength) {
        return s / filterLength;
    }
    return (s - max - min) / (filterLength - 2);
}

namespace {

template <double (Average::*step)(double)>
void filter_axes(Average* a, const arma::rowvec& in, arma::rowvec& out)
{
    if (a == nullptr || in.n_elem < 3) {
        return;
    }
    if (out.n_elem < 3) {
        out.resize(3);
    }
    for (arma::uword i = 0; i < 3; ++i) {
        out(i) = (a[i].*step)(in(i));
    }
}

}  // namespace

void Motion_Filter_MA(Average* a, const arma::rowvec& in, arma::rowvec& out)
{
    filter_axes<&Average::process_ma>(a, in, out);
}

void Motion_Filter_ME(Average* a, const arma::rowvec& in, arma::rowvec& out)
{
    filter_axes<&Average::process_me>(a, in, out);
}
