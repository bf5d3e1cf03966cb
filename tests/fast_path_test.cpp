// The machine code and the fast form against the plain interpreter: same values, same
// slot 0, same count, for well-formed and malformed formulas alike, and the same sound
// from every preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <set>

#include "engine/random.h"
#include "engine_fixture.h"
#include "every_path.h"
#include "expr/record_pool.h"
#include "instrument_probe.h"

namespace {

// A formula as the instrument's programs hold one: compiled into a full record, run from
// a packed copy that gets machine code.
struct Formula {
    CompiledExpressions full = allocateCompiledExpressions(1);
    RecordPool pool{1};
    CodeArena arena{1};
    CompiledExpression* record = nullptr;

    const char* compile(const char* text) {
        const char* message = compileExpression(full[0], text);
        if (record) {  // the variables and the last result go on, as with one record
            std::memcpy(full[0].variables, record->variables, sizeof record->variables);
            full[0].valueStack[0] = record->valueStack[0];
            arena.drop(0);
            pool.give(record);
        }
        record = pool.take(full[0]);
        arena.install(*record, 0);
        arena.seal();
        return message;
    }
    // The full record's interpreter over the packed record's variables.
    int64_t interpretFull() {
        std::memcpy(full[0].variables, record->variables, sizeof record->variables);
        full[0].valueStack[0] = record->valueStack[0];
        return interpretExpression(full[0]);
    }
};

// Runs the record on the three paths and compares what each returns and leaves.
void expectSameRun(CompiledExpression& record, const std::string& text) {
    const auto runs = runOnEveryPath(record);
    ASSERT_EQ(runs[kMachineCode], runs[kInterpreter]) << text << " (machine code)";
    ASSERT_EQ(runs[kFastForm], runs[kInterpreter]) << text << " (fast form)";
}

TEST(FastPath, AgreesWithTheInterpreterOnRandomTokenStreams) {
    Formula formula;
    auto& record = formula.record;
    std::mt19937_64 rng(5);
    const char* tokens[] = {"P",   "T",   "V",          "R",          "S",  "C",  "A", "0",   "1",   "2",  "7",
                            "256", "257", "0xFFFFFFFF", "2147483648", "+",  "-",  "*", "/",   "%",   "<<", ">>",
                            "<",   ">",   "<=",         ">=",         "==", "!=", "&", "^",   "|",   "&&", "||",
                            "?",   ":",   "!",          "~",          "(",  ")",  "3", "100", "1000"};
    int fastRuns = 0, nativeRuns = 0;
    for (int round = 0; round < 60000; ++round) {
        std::string text;
        const int length = 1 + static_cast<int>(rng() % 24);
        for (int i = 0; i < length; ++i) text += tokens[rng() % (sizeof tokens / sizeof tokens[0])];
        if (formula.compile(text.c_str())) {
            // A failed compilation: both paths give the last result.
            expectSameRun(*record, text);
            continue;
        }
        fastRuns += record->fastLength > 0;
        nativeRuns += record->compiledFormula != nullptr;
        for (int trial = 0; trial < 3; ++trial) {
            for (int64_t& v : record->variables)
                v = trial == 0 ? static_cast<int64_t>(rng() % 600) - 100 : static_cast<int64_t>(rng());
            expectSameRun(*record, text);
            ASSERT_EQ(formula.interpretFull(), interpretExpression(*record)) << text << " (packed)";
        }
    }
    EXPECT_GT(fastRuns, 1000);
    EXPECT_EQ(nativeRuns, fastRuns);
}

TEST(FastPath, DividesByEveryKindOfConstantAsTheInterpreterDoes) {
    Formula formula;
    auto& record = formula.record;
    const int64_t divisors[] = {
        0,   1,   2,   3,    4,    5,    7,     10,    11,      12,      100,        200,          255,
        256, 257, 500, 1000, 3200, 4096, 65535, 65536, 1000000, 1 << 30, 2147483647, 2147483648LL, 4294967295LL};
    const int64_t numerators[] = {0,
                                  1,
                                  -1,
                                  2,
                                  -2,
                                  255,
                                  -255,
                                  256,
                                  -256,
                                  257,
                                  1 << 20,
                                  -(1 << 20),
                                  std::numeric_limits<int64_t>::max(),
                                  std::numeric_limits<int64_t>::min(),
                                  std::numeric_limits<int64_t>::min() + 1,
                                  123456789012345LL,
                                  -987654321098765LL};
    std::mt19937_64 rng(9);
    for (int64_t d : divisors) {
        for (const char* op : {"/", "%"}) {
            // Unsigned 32-bit constants wrap to negative values: 2147483648 is the most
            // negative int32 and 4294967295 is -1. Folding gives the 64-bit ones.
            std::string text = "P";
            text += op;
            if (d > 2147483647) {
                text += "(";
                text += std::to_string(d >> 1);
                text += "*2+";
                text += std::to_string(d & 1);
                text += ")";
            } else {
                text += std::to_string(d);
            }
            ASSERT_EQ(formula.compile(text.c_str()), nullptr) << text;
            for (int64_t n : numerators) {
                record->variable('P') = n;
                expectSameRun(*record, text);
            }
            for (int i = 0; i < 2000; ++i) {
                record->variable('P') = static_cast<int64_t>(rng()) >> (rng() % 64);
                expectSameRun(*record, text);
            }
        }
    }
}

TEST(FastPath, KeepsTheLastResultForRecordsThatDoNotRun) {
    Formula formula;
    auto& record = formula.record;
    ASSERT_EQ(formula.compile("P*3+1"), nullptr);
    ASSERT_GT(record->fastLength, 0);
    ASSERT_NE(record->compiledFormula, nullptr);
    record->variable('P') = 5;
    EXPECT_EQ(runExpression(*record), 16);
    ASSERT_EQ(formula.compile(""), nullptr);
    EXPECT_EQ(record->fastLength, 0);
    EXPECT_EQ(record->compiledFormula, nullptr);
    EXPECT_EQ(runExpression(*record), 16);
    ASSERT_NE(formula.compile("P+#"), nullptr);
    EXPECT_EQ(record->compiledFormula, nullptr);
    EXPECT_EQ(runExpression(*record), 16);
    ASSERT_EQ(formula.compile("P+"), nullptr);  // a trailing operator: the interpreter's rule
    EXPECT_EQ(runExpression(*record), 5);
}

TEST(FastPath, TheLongestFormulasGetMachineCode) {
    Formula formula;
    auto& record = formula.record;
    for (const std::string term : {"+(T*7)", "+(1+(2+(3+(T", "^-(~P)", "%3", "/7", "*(3"}) {
        const auto opens =
            static_cast<size_t>(std::count(term.begin(), term.end(), '(') - std::count(term.begin(), term.end(), ')'));
        std::string text = "P", closes;
        while (text.size() + term.size() + closes.size() + opens <= 1023) text += term, closes.append(opens, ')');
        text += closes;
        ASSERT_EQ(formula.compile(text.c_str()), nullptr) << text;
        EXPECT_GT(record->fastLength, 0);
        EXPECT_NE(record->compiledFormula, nullptr);
        record->variable('P') = 3;
        record->variable('T') = 2;
        expectSameRun(*record, text);
    }
}

// The system's pages for code, except that one call of a kind is refused; every release
// must give back pages that were mapped.
struct RefusingPages {
    enum Kind { Map, Seal };
    static inline Kind kind = Map;
    static inline int calls = 0;
    static inline int refusedCall = -1;
    static inline std::set<uint8_t*> mapped;

    static uint8_t* map(size_t bytes) {
        if (kind == Map && calls++ == refusedCall) return nullptr;
        uint8_t* pages = systemCodePages().map(bytes);
        if (pages) mapped.insert(pages);
        return pages;
    }
    static bool seal(uint8_t* pages, size_t bytes) {
        if (kind == Seal && calls++ == refusedCall) return false;
        return systemCodePages().seal(pages, bytes);
    }
    static void release(uint8_t* pages, size_t bytes) {
        if (!mapped.erase(pages)) ADD_FAILURE() << "released pages that were never mapped";
        systemCodePages().release(pages, bytes);
    }
};

TEST(FastPath, RecompilingManyRecordsKeepsEachOnesCode) {
    // Records compiled in turn, successfully or not, leave blocks of code that nobody
    // owns, which are released: every record must run its own formula throughout,
    // including when the system refuses pages or executable memory at any point. A record
    // that a batch handed out is another thread's from then on: no later batch may write
    // its code pointer unless it is installed again, whatever failed before.
    constexpr int kRecords = 4;
    const CodePages refusing{RefusingPages::map, RefusingPages::seal, RefusingPages::release, systemCodePages().enter,
                             systemCodePages().leave};
    for (const RefusingPages::Kind kind : {RefusingPages::Map, RefusingPages::Seal}) {
        for (int refused = -1; refused < 12; ++refused) {
            RefusingPages::kind = kind;
            RefusingPages::calls = 0;
            RefusingPages::refusedCall = refused;
            CompiledExpressions records = allocateCompiledExpressions(kRecords);
            auto arena = std::make_unique<CodeArena>(kRecords, refusing);
            std::mt19937_64 rng(11 + refused);
            std::string texts[kRecords];
            int withCode = 0;
            for (int step = 0; step < 400; ++step) {
                const int batch = 1 + static_cast<int>(rng() % 3);
                bool installed[kRecords] = {};
                FormulaFunction handedOut[kRecords];
                for (int i = 0; i < kRecords; ++i) handedOut[i] = records[i].compiledFormula;
                for (int b = 0; b < batch; ++b) {
                    const int i = static_cast<int>(rng() % kRecords);
                    installed[i] = true;
                    texts[i].assign(1, 'P');
                    for (int terms = static_cast<int>(rng() % 40); terms > 0; --terms)
                        texts[i].append("+(T*").append(std::to_string(rng() % 1000)).append(")");
                    if (rng() % 4 == 0) texts[i] += "+(";  // does not compile
                    compileExpression(records[i], texts[i].c_str());
                    arena->install(records[i], i);
                }
                const int callsBefore = RefusingPages::calls;
                arena->seal();
                if (kind == RefusingPages::Seal && refused >= 0 && callsBefore > refused) {
                    ASSERT_EQ(RefusingPages::calls, callsBefore) << "asked the system again after it refused";
                }
                for (int i = 0; i < kRecords; ++i) {
                    if (installed[i]) continue;
                    ASSERT_EQ(records[i].compiledFormula, handedOut[i]) << "wrote into a record handed out";
                }
                for (int i = 0; i < kRecords; ++i) {
                    if (texts[i].empty()) continue;
                    withCode += records[i].compiledFormula != nullptr;
                    ASSERT_TRUE(!records[i].compiledFormula || records[i].isCompiled()) << texts[i];
                    records[i].variable('P') = static_cast<int64_t>(rng() % 1000);
                    records[i].variable('T') = static_cast<int64_t>(rng() % 1000);
                    expectSameRun(records[i], texts[i]);
                }
            }
            // A refused page is asked for again at the next batch; refused execution is final.
            if (kind == RefusingPages::Map || refused < 0) {
                EXPECT_GT(withCode, 1000) << refused;
            }
            arena.reset();
            EXPECT_TRUE(RefusingPages::mapped.empty()) << "pages left mapped";
        }
    }
}

class FastRender : public EngineTest {};

TEST_F(FastRender, EveryPresetSoundsTheSameOnEveryPath) {
    enum Path { MachineCode, FastForm, Interpreter };
    auto renderPresets = [](Path path) {
        std::vector<float> out;
        for (int preset = 0; preset < 38; ++preset) {
            auto synth = std::make_unique<engine::Instrument>();
            synth->setProgram(preset);
            synth->syncProgramDisplay();
            inside(*synth).interpolate = preset % 2 == 1;
            for (int i = 0; i < kNumPrograms; ++i) {
                CompiledExpression& record = synth->programRecord(i);
                EXPECT_NE(record.compiledFormula, nullptr);
                if (path != MachineCode) record.compiledFormula = nullptr, record.stretch = nullptr;
                if (path == Interpreter) record.fastLength = 0;
            }
            synth->setSampleRate(44100.0);
            for (const Midi& e : {midiEvent(0x90, 57, 100), midiEvent(0x90, 64, 60, 100), midiEvent(0xE0, 0, 80, 3000),
                                  midiEvent(0x90, 69, 127, 5000)})
                synth->queueMidi(e.status, e.data1, e.data2, e.frame);
            std::vector<float> left(22050), right(22050);
            synth->render(left.data(), right.data(), 22050);
            out.insert(out.end(), left.begin(), left.end());
        }
        return out;
    };
    // Each render's instances draw R from their own generators, from its start.
    const std::vector<float> machineCode = renderPresets(MachineCode);
    const std::vector<float> fastForm = renderPresets(FastForm);
    const std::vector<float> plain = renderPresets(Interpreter);
    EXPECT_EQ(machineCode, plain);
    EXPECT_EQ(fastForm, plain);
}

TEST_F(FastRender, EachBankOfTheLongestFormulasGetsItsMachineCodeWhileTheLastOneStillPlays) {
    // Three banks in a row whose code together is three times what the newest may hold:
    // no audio thread gives the older records back meanwhile.
    for (const char first : {'P', 'T', 'V'}) {
        std::lock_guard<std::mutex> hold(synth->bankLock());
        std::string formula(1, first);
        while (formula.size() + 2 <= 1023) formula += "%3";
        for (engine::ProgramSlot& slot : inside(*synth).programs) {
            std::snprintf(slot.formula, kFormulaSize, "%s", formula.c_str());
            slot.needsCompile = true;
        }
        ASSERT_EQ(synth->compileDirtyPrograms(), nullptr);
        for (int i = 0; i < kNumPrograms; ++i)
            ASSERT_NE(synth->programRecord(i).compiledFormula, nullptr) << first << i;
    }
}

}  // namespace
