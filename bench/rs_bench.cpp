// Reed-Solomon speed: this project's rs_encode / rs_decode against libfec's
// encode_rs_ccsds / decode_rs_ccsds on the same 49-codeword images (the size
// of the /dev/env image).  Prints a table of ratios (ours / libfec) at the end.
//
//   rs_bench [google benchmark flags, e.g. --benchmark_repetitions=5]
#include "store/rs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <fec.h>
}

namespace {

constexpr int kCodewords = 49;
constexpr std::size_t kImage = kCodewords * kRsN;

struct Images {
    std::vector<unsigned char> data;   // 49 x 223 settings bytes
    std::vector<unsigned char> clean;  // 49 valid codewords
    std::vector<unsigned char> err8;   // every codeword with 8 wrong bytes
    std::vector<unsigned char> err16;  // every codeword with 16 wrong bytes
};

std::vector<unsigned char> corrupted(const std::vector<unsigned char> &clean, int nerr, std::mt19937 &rng) {
    std::vector<unsigned char> img = clean;
    std::vector<int> pos(kRsN);
    for (int c = 0; c < kCodewords; c++) {
        for (std::size_t i = 0; i < kRsN; i++) pos[i] = static_cast<int>(i);
        std::shuffle(pos.begin(), pos.end(), rng);
        for (int e = 0; e < nerr; e++) img[c * kRsN + pos[e]] ^= static_cast<unsigned char>(1 + rng() % 255);
    }
    return img;
}

const Images &images() {
    static const Images im = [] {
        Images m;
        std::mt19937 rng(12345);
        m.data.resize(kCodewords * kRsK);
        for (auto &b : m.data) b = static_cast<unsigned char>(rng());
        m.clean.resize(kImage);
        for (int c = 0; c < kCodewords; c++) {
            std::memcpy(&m.clean[c * kRsN], &m.data[c * kRsK], kRsK);
            encode_rs_ccsds(&m.clean[c * kRsN], &m.clean[c * kRsN + kRsK], 0);
        }
        m.err8 = corrupted(m.clean, 8, rng);
        m.err16 = corrupted(m.clean, 16, rng);
        return m;
    }();
    return im;
}

int ours_decode(unsigned char *cw) { return rs_decode(cw); }
int fec_decode(unsigned char *cw) { return decode_rs_ccsds(cw, nullptr, 0, 0); }
void ours_encode(unsigned char *d, unsigned char *p) { rs_encode(d, p); }
void fec_encode(unsigned char *d, unsigned char *p) { encode_rs_ccsds(d, p, 0); }

template <int (*Decode)(unsigned char *)>
void decode_clean(benchmark::State &state) {
    std::vector<unsigned char> img = images().clean;
    for (auto _ : state) {
        int total = 0;
        for (int c = 0; c < kCodewords; c++) total += Decode(&img[c * kRsN]);
        benchmark::DoNotOptimize(total);
        benchmark::ClobberMemory();
        if (total != 0) state.SkipWithError("clean image reported corrections");
    }
}

// Each pass restores the corrupted image first (a 12 KiB copy, the same for
// both coders) and then corrects all 49 codewords.
template <int (*Decode)(unsigned char *), int Nerr>
void decode_errors(benchmark::State &state) {
    const std::vector<unsigned char> &src = Nerr == 8 ? images().err8 : images().err16;
    std::vector<unsigned char> img(kImage);
    for (auto _ : state) {
        std::memcpy(img.data(), src.data(), kImage);
        int total = 0;
        for (int c = 0; c < kCodewords; c++) total += Decode(&img[c * kRsN]);
        benchmark::DoNotOptimize(total);
        benchmark::ClobberMemory();
        if (total != Nerr * kCodewords) state.SkipWithError("wrong number of corrections");
    }
    if (img != images().clean) state.SkipWithError("image not restored");
}

template <void (*Encode)(unsigned char *, unsigned char *)>
void encode(benchmark::State &state) {
    std::vector<unsigned char> img(kImage);
    for (int c = 0; c < kCodewords; c++) std::memcpy(&img[c * kRsN], &images().data[c * kRsK], kRsK);
    for (auto _ : state) {
        for (int c = 0; c < kCodewords; c++) Encode(&img[c * kRsN], &img[c * kRsN + kRsK]);
        benchmark::ClobberMemory();
    }
    if (img != images().clean) state.SkipWithError("check bytes differ from libfec");
}

// Console output as usual, and the best per-iteration time of each benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> best_us;

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            double us = r.GetAdjustedRealTime() * (1e6 / benchmark::GetTimeUnitMultiplier(r.time_unit));
            auto it = best_us.find(r.run_name.function_name);
            if (it == best_us.end() || us < it->second) best_us[r.run_name.function_name] = us;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

struct Case {
    const char *label;
    const char *ours;
    const char *theirs;
    double goal;  // ratio aimed for
};

const Case kCases[] = {
    {"decode clean image", "decode_clean/ours", "decode_clean/libfec", 0.5},
    {"decode 8 errors/cw", "decode_8err/ours", "decode_8err/libfec", 1.0},
    {"decode 16 errors/cw", "decode_16err/ours", "decode_16err/libfec", 1.0},
    {"encode image", "encode/ours", "encode/libfec", 0.5},
};

}  // namespace

int main(int argc, char **argv) {
    images();
    benchmark::RegisterBenchmark("decode_clean/ours", decode_clean<ours_decode>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("decode_clean/libfec", decode_clean<fec_decode>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("decode_8err/ours", decode_errors<ours_decode, 8>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("decode_8err/libfec", decode_errors<fec_decode, 8>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("decode_16err/ours", decode_errors<ours_decode, 16>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("decode_16err/libfec", decode_errors<fec_decode, 16>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("encode/ours", encode<ours_encode>)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("encode/libfec", encode<fec_encode>)->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n49-codeword image, best time per pass (microseconds)\n");
    std::printf("%-22s %12s %12s %12s %8s  %s\n", "case", "ours", "libfec", "ours/libfec", "goal", "verdict");
    bool slower = false;
    for (const Case &c : kCases) {
        auto a = reporter.best_us.find(c.ours);
        auto b = reporter.best_us.find(c.theirs);
        if (a == reporter.best_us.end() || b == reporter.best_us.end()) continue;
        double ratio = a->second / b->second;
        const char *verdict = ratio > 1.0 ? "SLOWER THAN LIBFEC" : ratio <= c.goal ? "goal met" : "faster, goal missed";
        slower = slower || ratio > 1.0;
        std::printf("%-22s %12.2f %12.2f %12.3f %8.2f  %s\n", c.label, a->second, b->second, ratio, c.goal, verdict);
    }
    return slower ? 2 : 0;
}
