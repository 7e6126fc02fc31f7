// CS_Kalman.h - tracks one slave anchor's clock against one clock master.
//
// A two-state Kalman filter: the slave's clock reading at the master's last accepted
// transmission (x0) and the slave-over-master clock rate (x1). All times are seconds
// of the 40-bit device clock and wrap at kPeriod. One instance lives by value in every
// ClockSync slot.
//
// Threads: updateFilter() runs on the clock-sync job's thread only. syncTOA() is const
// and reads x0, x1, prevRxTime and prevTxTime; a selector thread that calls it while
// the clock-sync thread updates must be handed a consistent copy by the owner of the
// slot (this class has no lock of its own). Never throws, never allocates.
#pragma once

class CS_Kalman {
public:
    // Device clock: 2^40 ticks of 1/(128 x 499.2 MHz).
    static constexpr double kPeriod = 17.207401025641026;
    static constexpr double kHalfPeriod = 8.603700512820513;
    // Innovations with Y^2/S above this are outliers once the warm-up is over.
    static constexpr double kGateThreshold = 150.0;
    static constexpr int kWarmUpCalls = 30;
    static constexpr int kCounterLimit = 50;
    static constexpr int kOutlierResetScore = 9;

    CS_Kalman();

    // One clock-calibration pair: timeRxs = slave reception time (slave clock),
    // timeTxs = master transmit time plus flight time master -> slave (master clock).
    // The outcome is left in outlier and measuredError. A pair with a non-finite time
    // is ignored entirely (no field changes).
    void updateFilter(double timeRxs, double timeTxs);

    // Maps a time on the slave's clock into the master's time base, in [0, kPeriod).
    double syncTOA(double blinkTime) const;

    // Called by the clock-sync job after every update with the same pair; records nothing.
    void log(double timeRxs, double timeTxs, int seqnum);

    int id;                  // set by the clock-sync job (slave's local id); unused here
    double measNoiseVar;     // R, s^2
    double processNoiseVar;  // q
    double prevTxTime;       // master time of the last accepted pair, [0, kPeriod)
    double prevRxTime;       // slave time of the last call, accepted or not
    int counter;             // calls since start or last reset, saturating at 50
    int outlier_counter;     // +1 per rejected pair, -1 per accepted pair, >= 0
    bool init;               // false until the first pair
    double x0;               // slave reading corresponding to prevTxTime, [0, kPeriod)
    double x1;               // slave rate over master rate
    double p0, p1, p2, p3;   // error covariance, row by row
    double dt;               // master-time step of the last prediction
    double measuredError;    // innovation of the last call, 0 after a rejection
    int outlier;             // 1 if the last pair was rejected
};
