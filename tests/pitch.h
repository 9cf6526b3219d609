#pragma once
// Fundamental frequency of a mono signal by normalised autocorrelation, for checking that the
// synthesizer really sounds the note it was asked for.

#include <cmath>
#include <cstddef>
#include <vector>

namespace kivra::test {

inline double Rms(const std::vector<float>& samples) {
    double sum = 0;
    for (float s : samples) sum += double(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

// Searches 50..2000 Hz; returns 0 for silence.
inline double EstimatePitch(const std::vector<float>& samples, double sampleRate) {
    if (Rms(samples) < 1e-4) return 0;
    const auto minLag = static_cast<std::size_t>(sampleRate / 2000);
    const auto maxLag = static_cast<std::size_t>(sampleRate / 50);
    if (samples.size() < 2 * maxLag) return 0;
    const std::size_t n = samples.size() - maxLag;
    std::vector<double> corr(maxLag + 1, 0.0);
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
        double num = 0, e1 = 0, e2 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            num += double(samples[i]) * samples[i + lag];
            e1 += double(samples[i]) * samples[i];
            e2 += double(samples[i + lag]) * samples[i + lag];
        }
        corr[lag] = num / std::sqrt(e1 * e2 + 1e-12);
    }
    // The first lag whose correlation comes close to the best one avoids octave errors.
    double best = 0;
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) best = std::max(best, corr[lag]);
    // Peaks before the correlation first turns negative belong to the zero-lag lobe.
    std::size_t from = minLag + 1;
    while (from < maxLag && corr[from] > 0) ++from;
    if (from >= maxLag) from = minLag + 1;
    std::size_t chosen = minLag;
    for (std::size_t lag = from; lag < maxLag; ++lag) {
        if (corr[lag] >= 0.9 * best && corr[lag] >= corr[lag - 1] && corr[lag] >= corr[lag + 1]) {
            chosen = lag;
            break;
        }
    }
    // Parabolic interpolation around the peak.
    double shift = 0;
    if (chosen > minLag && chosen < maxLag) {
        const double a = corr[chosen - 1], b = corr[chosen], c = corr[chosen + 1];
        const double denom = a - 2 * b + c;
        if (std::abs(denom) > 1e-12) shift = 0.5 * (a - c) / denom;
    }
    return sampleRate / (double(chosen) + shift);
}

}  // namespace kivra::test
