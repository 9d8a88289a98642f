// Shared helpers of the benchmark programs: percentiles, a table for people and JSON lines
// {"bench": ..., "metric": ..., "value": ..., "unit": ...} for tools.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace nclaser::bench {

struct TStats {
  double P50 = 0;
  double P99 = 0;
  double Max = 0;
  double Mean = 0;
  size_t N = 0;
};

inline TStats Summarize(std::vector<double> V) {
  TStats S;
  if (V.empty()) {
    return S;
  }
  std::sort(V.begin(), V.end());
  auto At = [&](double Q) {
    const auto I = static_cast<size_t>(std::ceil(Q * static_cast<double>(V.size()))) - 1;
    return V[std::min(I, V.size() - 1)];
  };
  S.P50 = At(0.50);
  S.P99 = At(0.99);
  S.Max = V.back();
  double Sum = 0;
  for (double X : V) {
    Sum += X;
  }
  S.Mean = Sum / static_cast<double>(V.size());
  S.N = V.size();
  return S;
}

inline void Json(const std::string& Bench, const std::string& Metric, double Value,
                 const std::string& Unit) {
  std::printf("{\"bench\": \"%s\", \"metric\": \"%s\", \"value\": %.6g, \"unit\": \"%s\"}\n",
              Bench.c_str(), Metric.c_str(), Value, Unit.c_str());
}

// One table row and the JSON lines of its p50/p99/max.
inline void Report(const std::string& Bench, const std::string& What, const TStats& S,
                   const std::string& Unit) {
  std::printf("%-28s %-22s n=%-5zu p50=%9.4f p99=%9.4f max=%9.4f %s\n", Bench.c_str(), What.c_str(),
              S.N, S.P50, S.P99, S.Max, Unit.c_str());
  Json(Bench, What + ".p50", S.P50, Unit);
  Json(Bench, What + ".p99", S.P99, Unit);
  Json(Bench, What + ".max", S.Max, Unit);
}

} // namespace nclaser::bench
