// Runs the benchmarks, then prints the ratios that matter side by side: each preset's
// evaluation against native code with the geometric mean, the whole render against the
// native-formula render, the memory that instances add, and the audio thread's block
// times alone and beside the other threads at work.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "block_times.h"
#include "host/aeffect.h"
#include "native_presets.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            // The fastest of the repetitions: the machine's noise only ever adds time.
            keepLeast(nanoseconds, run.run_name.str(), run.GetAdjustedRealTime() * nsPerUnit(run.time_unit));
            for (const auto& [name, counter] : run.counters)
                keepLeast(counters, run.run_name.str() + ":" + name, counter.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    static void keepLeast(std::map<std::string, double>& into, const std::string& key, double value) {
        auto [at, fresh] = into.emplace(key, value);
        if (!fresh && value < at->second) at->second = value;
    }
    static double nsPerUnit(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kMicrosecond: return 1e3;
            case benchmark::kMillisecond: return 1e6;
            case benchmark::kSecond: return 1e9;
            default: return 1.0;
        }
    }
    std::map<std::string, double> nanoseconds;
    std::map<std::string, double> counters;
};

// Resident memory of this process in bytes.
long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4096;
}

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

void reportMemory() {
    const long before = residentBytes();
    std::vector<AEffect*> instances;
    instances.push_back(VSTPluginMain(host));
    const long one = residentBytes();
    for (int i = 1; i < 16; ++i) instances.push_back(VSTPluginMain(host));
    const long sixteen = residentBytes();
    std::printf("\nResident memory added: one instance %.2f MB, sixteen instances %.2f MB (%.2f MB each)\n",
                (one - before) / 1048576.0, (sixteen - before) / 1048576.0, (sixteen - before) / 16.0 / 1048576.0);
    for (AEffect* e : instances) e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

void reportEvaluation(const CollectingReporter& r) {
    std::printf("\nEvaluation per call, key 69 at 44.1 kHz (ns; ratio to native code)\n");
    std::printf("%-7s %8s %8s %8s %8s %8s %8s %8s\n", "preset", "machine", "fast", "plain", "native", "machine/x",
                "fast/x", "plain/x");
    const char* const paths[] = {"BM_Formula", "BM_FastForm", "BM_PlainInterpreter"};
    double logRatio[3] = {}, worst[3] = {};
    for (int i = 0; i < kNativePresetCount; ++i) {
        auto timeOf = [&](const char* benchmark) {
            std::string name = benchmark;
            name += '/';
            name += std::to_string(i);
            return r.nanoseconds.at(name);
        };
        const double native = timeOf("BM_NativeFormula");
        double ns[3];
        for (int p = 0; p < 3; ++p) {
            ns[p] = timeOf(paths[p]);
            logRatio[p] += std::log(ns[p] / native);
            worst[p] = std::max(worst[p], ns[p] / native);
        }
        std::printf("%-7d %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f\n", i + 1, ns[0], ns[1], ns[2], native,
                    ns[0] / native, ns[1] / native, ns[2] / native);
    }
    for (int p = 0; p < 3; ++p)
        std::printf("%-20s geometric mean %.2f x native, slowest preset %.2f x\n",
                    p == 0   ? "machine code:"
                    : p == 1 ? "fast form:"
                             : "plain interpreter:",
                    std::exp(logRatio[p] / kNativePresetCount), worst[p]);
}

void reportRender(const CollectingReporter& r) {
    std::printf("\nRender of 512-frame blocks, 8 voices (ns per voice-sample; ratio to native formulas)\n");
    for (const char* lerp : {"0", "1"}) {
        const std::string key = std::string("/lerp:") + lerp + ":ns_per_voice_sample";
        const double ours = r.counters.at("BM_Render" + key), fast = r.counters.at("BM_RenderFastForm" + key),
                     native = r.counters.at("BM_RenderNative" + key);
        std::printf("lerp %s: instrument %.2f (%.2f x), fast form %.2f (%.2f x), native formulas %.2f\n", lerp,
                    ours * 1e9, ours / native, fast * 1e9, fast / native, native * 1e9);
    }
}

void reportCosts(const CollectingReporter& r) {
    std::printf("\nCosts around the sound (fastest of the repetitions)\n");
    for (const auto& [name, ns] : r.nanoseconds) {
        if (name.rfind("BM_Formula", 0) == 0 || name.rfind("BM_FastForm", 0) == 0 ||
            name.rfind("BM_NativeFormula", 0) == 0 || name.rfind("BM_PlainInterpreter", 0) == 0 ||
            name.rfind("BM_Render", 0) == 0)
            continue;
        std::printf("%-28s %12.3f us\n", name.c_str(), ns / 1000.0);
    }
    if (r.counters.count("BM_Construction:minor_faults"))
        std::printf("Minor page faults an instance (construction and destruction): %.0f\n",
                    r.counters.at("BM_Construction:minor_faults"));
}

}  // namespace

int main(int argc, char** argv) {
    bool filtered = false;
    for (int i = 1; i < argc; ++i) filtered |= std::string(argv[i]).rfind("--benchmark_filter", 0) == 0;
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Each table needs all of its benchmarks (a --benchmark_filter may leave some out).
    if (reporter.nanoseconds.count("BM_Formula/0") && reporter.nanoseconds.count("BM_FastForm/0") &&
        reporter.nanoseconds.count("BM_PlainInterpreter/0") && reporter.nanoseconds.count("BM_NativeFormula/0"))
        reportEvaluation(reporter);
    if (reporter.nanoseconds.count("BM_Render/lerp:1") && reporter.nanoseconds.count("BM_RenderFastForm/lerp:1") &&
        reporter.nanoseconds.count("BM_RenderNative/lerp:1"))
        reportRender(reporter);
    reportCosts(reporter);
    // A run of some benchmarks only (as the WebAssembly comparison makes) skips the rest.
    if (!filtered) {
        reportMemory();
        reportBlockTimes();
    }
    benchmark::Shutdown();
    return 0;
}
