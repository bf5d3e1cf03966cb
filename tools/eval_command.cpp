// bytone eval: one formula compiled and run, its 64-bit value printed, or a column of
// values over one variable.
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

#include "command.h"
#include "engine/instrument.h"
#include "engine/random.h"
#include "engine/sine_table.h"
#include "expr/expression.h"

namespace {

struct EvalOptions {
    std::string formula;
    std::vector<std::string> sets;
    std::string table;
};

// The letter of LETTER=VALUE, as 0 to 25.
int letterOf(const std::string& text, const char* option) {
    if (text.find('=') != 1 || !std::isalpha(static_cast<unsigned char>(text[0])))
        throw UsageError(std::string(option) + " wants LETTER=VALUE, not '" + text + "'");
    return std::toupper(static_cast<unsigned char>(text[0])) - 'A';
}

// Runs the formula as a voice runs it: S and C read the sine table at P, and R is drawn
// from the instrument's generator, unless --set gives them.
int64_t runAsAVoice(CompiledExpression& record, const uint8_t* sineTable, const bool given[kVariableCount],
                    random15::Generator& random) {
    const int64_t phase = record.variable('P');
    if (!given['S' - 'A']) record.variable('S') = sineReading(sineTable, phase, 0);
    if (!given['C' - 'A']) record.variable('C') = sineReading(sineTable, phase, 64);
    if (!given['R' - 'A']) record.variable('R') = random.next();
    return runExpression(record);
}

// --table LETTER=FROM:TO[:STEP]: a row of the letter's value and the formula's a step.
void printTable(CompiledExpression& record, const uint8_t* sineTable, bool given[kVariableCount],
                const std::string& table, random15::Generator& random) {
    const int letter = letterOf(table, "--table");
    given[letter] = true;
    const std::string range = table.substr(2);
    const size_t colon1 = range.find(':'), colon2 = range.find(':', colon1 + 1);
    if (colon1 == std::string::npos) throw UsageError("--table wants LETTER=FROM:TO[:STEP], not '" + table + "'");
    const int64_t from = parseInteger(range.substr(0, colon1), "--table");
    const int64_t to = parseInteger(range.substr(colon1 + 1, colon2 - colon1 - 1), "--table");
    const int64_t step = colon2 == std::string::npos ? 1 : parseInteger(range.substr(colon2 + 1), "--table");
    // Counted in 128 bits, so that no range wraps past the largest value.
    const __int128 span = static_cast<__int128>(to) - from;
    const __int128 rows = step == 0 || (span != 0 && (span < 0) != (step < 0)) ? 0 : span / step + 1;
    if (rows <= 0 || rows > 10000000)
        throw UsageError("--table range " + range + " is empty, endless or longer than ten million rows");
    for (__int128 row = 0; row < rows; ++row) {
        const auto v = static_cast<int64_t>(from + row * step);
        record.variables[letter] = v;
        std::printf("%lld\t%lld\n", static_cast<long long>(v),
                    static_cast<long long>(runAsAVoice(record, sineTable, given, random)));
    }
}

int evaluate(const EvalOptions& options) {
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression& record = records[0];
    if (const char* message = compileExpression(record, options.formula.c_str()))
        throw CommandError(std::string(message) + " in '" + options.formula + "'");
    uint8_t sineTable[256];
    fillSineTable(sineTable);
    bool given[kVariableCount] = {};
    random15::Generator random;  // R as a new instance's first voice draws it
    for (const std::string& set : options.sets) {
        const int letter = letterOf(set, "--set");
        record.variables[letter] = parseInteger(set.substr(2), "--set " + set);
        given[letter] = true;
    }
    if (options.table.empty())
        std::printf("%lld\n", static_cast<long long>(runAsAVoice(record, sineTable, given, random)));
    else
        printTable(record, sineTable, given, options.table, random);
    return 0;
}

}  // namespace

Command addEvalCommand(CLI::App& app) {
    auto options = std::make_shared<EvalOptions>();
    CLI::App* eval = app.add_subcommand("eval", "compile and run one formula, printing its 64-bit value");
    eval->add_option("formula", options->formula, "the formula")->required();
    eval->add_option("--set", options->sets, "a variable's value, as P=300 (repeatable)");
    eval->add_option("--table", options->table, "a column of values over one variable, as P=0:1023[:1]");
    return {eval, [options] { return evaluate(*options); }};
}
