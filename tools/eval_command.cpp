// bytone eval: one formula compiled and run, its 64-bit value printed (a stereo formula's
// two), or a column of values over one variable; the language of bytone.clap.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "command.h"
#include "engine/instrument.h"
#include "engine/random.h"
#include "engine/sine_table.h"
#include "expr/expression.h"
#include "expr/words.h"

namespace {

struct EvalOptions {
    std::string formula;
    std::vector<std::string> sets;
    std::string table;
};

// The variable of NAME=VALUE: a letter that a voice fills (T, P, V, M, R, S, C; the
// others always read 0), or a word of the formulas (after the letters).
int variableOf(const std::string& text, const char* option) {
    const size_t equals = text.find('=');
    std::string name = text.substr(0, equals == std::string::npos ? 0 : equals);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    constexpr std::string_view kVoiceLetters = "tpvmrsc";
    if (name.size() == 1 && kVoiceLetters.find(name[0]) != std::string_view::npos) return name[0] - 'a';
    for (int w = 0; w < kWordCount; ++w)
        if (name == kWordNames[w]) return 26 + w;
    std::string letters, words;
    for (const char letter : kVoiceLetters)
        letters += std::string(letters.empty() ? "" : ", ") + static_cast<char>(std::toupper(letter));
    for (const char* word : kWordNames) words += std::string(", ") + word;
    if (name.size() == 1 && std::isalpha(static_cast<unsigned char>(name[0])))
        throw UsageError(std::string(option) + " " + text + ": " + static_cast<char>(std::toupper(name[0])) +
                         " is 0 in every voice; set " + letters + " or a word");
    throw UsageError(std::string(option) + " wants NAME=VALUE, NAME one of " + letters + words + "; not '" + text +
                     "'");
}

// The formula's sides: the left, and a stereo formula's right.
struct Sides {
    CompiledExpressions records = allocateCompiledExpressions(2);
    CompiledExpression& left = records[0];
    CompiledExpression& right = records[1];
    bool stereo() const { return right.isCompiled(); }
};

// Runs the formula as a voice runs it: S and C read the sine table at P, and R is drawn
// from the instrument's generator, unless --set gives them; both sides read the same.
// Prints its value, or a stereo formula's two, after `prefix`.
void printRun(Sides& sides, const uint8_t* sineTable, const bool given[kVariableCount], random15::Generator& random,
              const std::string& prefix) {
    CompiledExpression& record = sides.left;
    const int64_t phase = record.variable('P');
    if (!given['S' - 'A']) record.variable('S') = sineReading(sineTable, phase, 0);
    if (!given['C' - 'A']) record.variable('C') = sineReading(sineTable, phase, 64);
    if (!given['R' - 'A']) record.variable('R') = random.next();
    std::printf("%s%lld", prefix.c_str(), static_cast<long long>(runExpression(record)));
    if (sides.stereo()) {
        std::copy(std::begin(record.variables), std::end(record.variables), sides.right.variables);
        std::printf("\t%lld", static_cast<long long>(runExpression(sides.right)));
    }
    std::printf("\n");
}

// --table NAME=FROM:TO[:STEP]: a row of the variable's value and the formula's a step.
void printTable(Sides& sides, const uint8_t* sineTable, bool given[kVariableCount], const std::string& table,
                random15::Generator& random) {
    const int variable = variableOf(table, "--table");
    given[variable] = true;
    const std::string range = table.substr(table.find('=') + 1);
    const size_t colon1 = range.find(':'), colon2 = range.find(':', colon1 + 1);
    if (colon1 == std::string::npos) throw UsageError("--table wants NAME=FROM:TO[:STEP], not '" + table + "'");
    const int64_t from = parseFormulaNumber(range.substr(0, colon1), "--table");
    const int64_t to = parseFormulaNumber(range.substr(colon1 + 1, colon2 - colon1 - 1), "--table");
    const int64_t step = colon2 == std::string::npos ? 1 : parseFormulaNumber(range.substr(colon2 + 1), "--table");
    // Counted in 128 bits, so that no range wraps past the largest value.
    const __int128 span = static_cast<__int128>(to) - from;
    const __int128 rows = step == 0 || (span != 0 && (span < 0) != (step < 0)) ? 0 : span / step + 1;
    if (rows <= 0 || rows > 10000000)
        throw UsageError("--table range " + range + " is empty, endless or longer than ten million rows");
    for (__int128 row = 0; row < rows; ++row) {
        const auto v = static_cast<int64_t>(from + row * step);
        sides.left.variables[variable] = v;
        printRun(sides, sineTable, given, random, std::to_string(v) + "\t");
    }
}

int evaluate(const EvalOptions& options) {
    Sides sides;
    int32_t stop = -1;
    if (const char* message =
            compileExpression(sides.left, options.formula.c_str(), Language::Extended, &sides.right, &stop))
        throw UsageError(formulaFault(message, options.formula, stop));
    uint8_t sineTable[256];
    fillSineTable(sineTable);
    bool given[kVariableCount] = {};
    random15::Generator random;  // R as a new instance's first voice draws it
    // The words as a held note reads them at the song's start, before any controller.
    sides.left.word(Word::Gate) = 1;
    sides.left.word(Word::Timbre) = 64;
    for (const std::string& set : options.sets) {
        const int variable = variableOf(set, "--set");
        sides.left.variables[variable] = parseFormulaNumber(set.substr(set.find('=') + 1), "--set " + set);
        given[variable] = true;
    }
    if (options.table.empty())
        printRun(sides, sineTable, given, random, "");
    else
        printTable(sides, sineTable, given, options.table, random);
    return 0;
}

}  // namespace

Command addEvalCommand(CLI::App& app) {
    auto options = std::make_shared<EvalOptions>();
    CLI::App* eval = app.add_subcommand("eval", "compile and run one formula, printing its 64-bit value");
    eval->add_option("formula", options->formula, "the formula")->required();
    eval->add_option(
            "--set", options->sets,
            "a variable's value, as P=300 or beat=32768, the number read as a formula reads it (repeatable; gate is 1 "
            "and timbre 64 unless set)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    eval->add_option("--table", options->table, "a column of values over one variable, as P=0:1023[:1]");
    return {eval, [options] { return evaluate(*options); }};
}
