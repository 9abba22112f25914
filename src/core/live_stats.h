#pragma once
// Rates and remaining-time estimates, as pure arithmetic on the run's figures.

#include <QString>

#include <optional>

struct RateEstimate {
    double ratePerMin = 0;
    std::optional<double> eta; // seconds; nothing while no rate is known
};

// The batch's figures as the window shows them.
struct LiveStats {
    double elapsed = 0;
    double ratePerMin = 0;
    std::optional<double> eta;
};

// `finished` items in `elapsed` seconds, `remaining` still to do.
RateEstimate estimateRate(double finished, double elapsed, double remaining);

// "42 s", "2 min 5 s", "1 h 2 min"; "-" for a negative or non-finite value.
QString formatDurationHuman(double seconds);
