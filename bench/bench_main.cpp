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

// What this process's memory mappings add up to, in bytes: the address space they
// reserve, the part the system charges as committed (private writable mappings that
// reserve swap: without "nr" among their flags), and what is resident.
struct MemoryUse {
    long reserved = 0, committed = 0, resident = 0;
};
MemoryUse memoryUse() {
    MemoryUse use;
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    long size = 0;
    while (std::getline(smaps, line)) {
        long kb = 0;
        if (std::sscanf(line.c_str(), "Size: %ld kB", &kb) == 1) {
            size = kb * 1024;
            use.reserved += size;
        } else if (std::sscanf(line.c_str(), "Rss: %ld kB", &kb) == 1) {
            use.resident += kb * 1024;
        } else if (line.rfind("VmFlags:", 0) == 0) {
            const bool writable = line.find(" wr") != std::string::npos;
            const bool shared = line.find(" sh") != std::string::npos;
            const bool unreserved = line.find(" nr") != std::string::npos;
            if (writable && !shared && !unreserved) use.committed += size;
        }
    }
    return use;
}

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

void reportMemory() {
    std::printf("\nMemory an instance adds (MB): address space reserved, committed, resident\n");
    const MemoryUse before = memoryUse();
    std::vector<AEffect*> instances;
    auto report = [&](const char* what, int count) {
        const MemoryUse now = memoryUse();
        std::printf("%-16s %9.2f %9.2f %9.2f\n", what, (now.reserved - before.reserved) / 1048576.0 / count,
                    (now.committed - before.committed) / 1048576.0 / count,
                    (now.resident - before.resident) / 1048576.0 / count);
    };
    instances.push_back(VSTPluginMain(host));
    report("one instance", 1);
    for (int i = 1; i < 16; ++i) instances.push_back(VSTPluginMain(host));
    report("each of sixteen", 16);
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
    std::printf(
        "\nRender of 512-frame blocks, 8 voices, each path's fastest block in turn (ns per voice-sample; "
        "ratio to the limit: the formulas inlined in C++ over the block)\n");
    for (const char* lerp : {"0", "1"}) {
        const std::string key = std::string("BM_RenderInTurn/lerp:") + lerp + ":";
        const double ours = r.counters.at(key + "instrument"), fast = r.counters.at(key + "fast"),
                     native = r.counters.at(key + "native"), limit = r.counters.at(key + "limit");
        std::printf(
            "lerp %s: instrument %.2f (%.2f x), fast form %.2f (%.2f x), native formulas called per sample "
            "%.2f (%.2f x), limit %.2f\n",
            lerp, ours, ours / limit, fast, fast / limit, native, native / limit, limit);
    }
}

void reportWords(const CollectingReporter& r) {
    std::printf(
        "\nWords, stereo and the extended language, 8 voices, each path's fastest 512-frame block in turn "
        "(ns per voice-sample)\n");
    for (const char* lerp : {"0", "1"}) {
        const std::string key = std::string("BM_WordsInTurn/lerp:") + lerp + ":";
        const double words = r.counters.at(key + "words"), letters = r.counters.at(key + "letters"),
                     stereo = r.counters.at(key + "stereo"), classic = r.counters.at(key + "classic");
        std::printf(
            "lerp %s: beat, note, pressure %.2f / T, P, V %.2f = %.3f x; stereo / its left sides %.3f x; "
            "extended / classic language, the same formulas %.3f x\n",
            lerp, words, letters, words / letters, stereo / letters, letters / classic);
    }
}

void reportFormats(const CollectingReporter& r) {
    const std::string key = "BM_FormatsInTurn:";
    const double vst = r.counters.at(key + "vst"), clap = r.counters.at(key + "clap"),
                 vst3 = r.counters.at(key + "vst3"), lv2 = r.counters.at(key + "lv2");
    std::printf(
        "\nRender through each plug-in format in turn, the fastest 512-frame block of each, 8 voices "
        "(ns per voice-sample)\n");
    std::printf(
        "VST 2.4 %.2f, CLAP %.2f, VST3 %.2f, LV2 %.2f: CLAP / VST 2.4 %.3f, VST3 / VST 2.4 %.3f, "
        "LV2 / VST 2.4 %.3f\n",
        vst, clap, vst3, lv2, clap / vst, vst3 / vst, lv2 / vst);
}

void reportCosts(const CollectingReporter& r) {
    std::printf("\nCosts around the sound (fastest of the repetitions)\n");
    for (const auto& [name, ns] : r.nanoseconds) {
        if (name.rfind("BM_Formula", 0) == 0 || name.rfind("BM_FastForm", 0) == 0 ||
            name.rfind("BM_NativeFormula", 0) == 0 || name.rfind("BM_PlainInterpreter", 0) == 0 ||
            name.rfind("BM_Render", 0) == 0 || name.rfind("BM_Format", 0) == 0 || name.rfind("BM_Words", 0) == 0)
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
    if (reporter.counters.count("BM_RenderInTurn/lerp:0:limit") &&
        reporter.counters.count("BM_RenderInTurn/lerp:1:limit"))
        reportRender(reporter);
    if (reporter.counters.count("BM_WordsInTurn/lerp:0:words") &&
        reporter.counters.count("BM_WordsInTurn/lerp:1:words"))
        reportWords(reporter);
    if (reporter.counters.count("BM_FormatsInTurn:lv2")) reportFormats(reporter);
    reportCosts(reporter);
    // A run of some benchmarks only (as the WebAssembly comparison makes) skips the rest.
    if (!filtered) {
        reportMemory();
        reportBlockTimes();
    }
    benchmark::Shutdown();
    return 0;
}
