// The bytone command as a user runs it: exit codes, messages and the files it writes.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <functional>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "midi_builder.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status;
    std::string out;
    std::string err;
};

// One line of `bytone programs`.
std::string programLine(int number, const char* name, const char* formula) {
    char line[2048];
    std::snprintf(line, sizeof line, "%3d  %-31s  %s\n", number, name, formula);
    return line;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(BYTONE_TEST_DIR) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }

    Result run(const std::string& arguments) {
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        const std::string command = "cd '" + dir.string() + "' && '" BYTONE_TOOL_PATH "' " + arguments + " >'" +
                                    out.string() + "' 2>'" + err.string() + "' </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
    }

    void write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::vector<uint8_t> bytesOf(const std::string& name) {
        const std::string text = readText(dir / name);
        return std::vector<uint8_t>(text.begin(), text.end());
    }

    std::vector<float> samplesOf(const std::string& name, int* rate = nullptr) {
        SF_INFO info{};
        SNDFILE* file = sf_open((dir / name).c_str(), SFM_READ, &info);
        EXPECT_NE(file, nullptr) << name;
        if (!file) return {};
        std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
        sf_readf_float(file, samples.data(), info.frames);
        sf_close(file);
        if (rate) *rate = info.samplerate;
        return samples;
    }

    void writeSong(const std::string& name) {
        MidiTrack track;
        track.event(0, {0x90, 69, 100}).event(480, {0x80, 69, 0}).end();
        write(name, midiFile(0, 480, {track}));
    }

    fs::path dir;
};

TEST_F(CliTest, EvalPrintsTheValueOrTheCompilersMessage) {
    Result r = run("eval '(P&256?P:~P)&255' --set P=300");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "44\n");
    r = run("eval 'P*T' --set p=6 --set T=0x7");
    EXPECT_EQ(r.out, "42\n");
    r = run("eval 'P*2' --table P=0:3");
    EXPECT_EQ(r.out, "0\t0\n1\t2\n2\t4\n3\t6\n");
    struct Case {
        const char* arguments;
        const char* out;
    };
    const Case cases[] = {
        {"eval P --set P=010", "10\n"},          // decimal, as in formulas
        {"eval 010", "10\n"},                    // (the formula itself)
        {"eval P --set P=-0x10", "-16\n"},       //
        {"eval S --set P=64", "255\n"},          // S and C read the sine table at P
        {"eval C --set P=256", "511\n"},         // 256 + the table's 255 at 0 + 64
        {"eval S --set P=64 --set S=3", "3\n"},  // unless given
        {"eval 'R<32768&R>=0'", "1\n"},          // R is drawn, 0..32767
        {"eval P --set P=0xFFFFFFFF", "-1\n"},   // wrapped in 32 bits, as a formula's 0xFFFFFFFF
        {"eval P --set P=99999999999", "1215752191\n"},
        {"eval P --table P=0xFFFFFFFE:0xFFFFFFFF", "-2\t-2\n-1\t-1\n"},
        {"eval P --table P=3:0:-2", "3\t3\n1\t1\n"},
        {"eval 'beat>>15' --set BEAT=98304", "3\n"},             // the words of bytone.clap's formulas
        {"eval 'gate*timbre+note'", "64\n"},                     // a held note, before any controller
        {"eval 'P*2,P*3' --table P=1:2", "1\t2\t3\n2\t4\t6\n"},  // stereo: both sides
        {"eval 'R==R,R' --set R=7", "1\t7\n"},
    };
    for (const Case& c : cases) {
        r = run(c.arguments);
        EXPECT_EQ(r.status, 0) << c.arguments << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.arguments;
    }
    // A formula that does not compile: its fault, and where, with a caret under it (a
    // character a column).
    const Case faults[] = {
        {"eval 'P)'", "bytone: Extra closing parenthesis at 2\n  P)\n   ^\n"},
        {"eval '(P*3'", "bytone: Missing closing parenthesis at 5\n  (P*3\n      ^\n"},
        {"eval \"$(printf '\\303\\251\\tP**3')\"", "bytone: Syntax error at 5\n  \xc3\xa9 P**3\n      ^\n"},
        {"render -o out.wav --formula 'P+#'", "bytone: Unexpected symbol during parsing at 3\n  P+#\n    ^\n"},
    };
    for (const Case& c : faults) {
        r = run(c.arguments);
        EXPECT_EQ(r.status, 2) << c.arguments;
        EXPECT_EQ(r.err, c.out) << c.arguments;
    }
}

TEST_F(CliTest, ScopeDrawsTheEditorsPictureOfAFormula) {
    Result r = run("scope 'P&255' -o saw.png --clamp off --zoom 1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("saw.png: 580x64, zoom 7x"), std::string::npos) << r.out;
    const std::vector<uint8_t> png = bytesOf("saw.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    EXPECT_EQ(png[19], 580 & 0xFF);  // width, big-endian at byte 16
    EXPECT_EQ(png[23], 64);          // height
    r = run("scope 'P)' -o bad.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "bytone: Extra closing parenthesis at 2\n  P)\n   ^\n");
    EXPECT_FALSE(fs::exists(dir / "bad.png"));
    r = run("scope 'P&255' -o big.png --scale 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytesOf("big.png")[19], (2 * 580) & 0xFF);
    // A note over time: loud at first, silent after a decay of a second.
    r = run("note '(P&255)*(T<65536)' -o note.png --seconds 2");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> note = bytesOf("note.png");
    ASSERT_GT(note.size(), 24u);
    EXPECT_EQ(note[19], 580 & 0xFF);
    EXPECT_EQ(note[23], 96);
    r = run("note 'P)' -o bad.png");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "bytone: Extra closing parenthesis at 2\n  P)\n   ^\n");
}

TEST_F(CliTest, InfoAndProgramsShowThePlugInAsAHostSeesIt) {
    Result r = run("info");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("effect name     BYTONE"), std::string::npos);
    EXPECT_NE(r.out.find("vendor          Kelmo"), std::string::npos);
    EXPECT_NE(r.out.find("unique id       'byto'"), std::string::npos);
    EXPECT_NE(r.out.find("canDo receiveVstMidiEvent   1"), std::string::npos);
    // A plug-in named without a folder is the current folder's, not a system library's.
    fs::copy_file(fs::path(BYTONE_TOOL_PATH).parent_path().parent_path() / "bytone.so", dir / "bytone.so");
    r = run("--plugin bytone.so info");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("plug-in file    " + (dir / "bytone.so").string()), std::string::npos) << r.out;
    r = run("programs");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 128);
    EXPECT_NE(r.out.find("  0  001 Saw"), std::string::npos);
    EXPECT_NE(r.out.find(programLine(23, "024 Triangle", "(P&256?P:~P)&255")), std::string::npos);
}

TEST_F(CliTest, EveryCommandHasHelp) {
    for (const char* command :
         {"--help", "render --help", "programs --help", "info --help", "eval --help", "scope --help", "note --help"}) {
        const Result r = run(command);
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_NE(r.out.find("Usage"), std::string::npos) << command;
    }
}

TEST_F(CliTest, BadInputGivesOneClearLineAndAFailure) {
    write("text.mid", {'h', 'e', 'l', 'l', 'o'});
    write("short.fxb", {'C', 'c', 'n', 'K', 0, 0, 0, 9});
    write("notes.txt", {'r', 'o', 'o', 't', ':', 'x', ':', '0'});
    writeSong("song.mid");
    MidiTrack endless;  // an end of track 0x0FFFFFFF ticks on, at 96 a quarter: 388 hours
    endless.event(0, {0x90, 60, 100}).end(0x0FFFFFFF);
    write("endless.mid", midiFile(0, 96, {endless}));
    MidiTrack quiet;  // a program change and nothing to play
    quiet.event(0, {0xC0, 5}).end(96);
    write("quiet.mid", midiFile(0, 96, {quiet}));
    struct Case {
        const char* arguments;
        const char* message;
        int status = 1;  // 2: the command line asks for what cannot be
    };
    const Case cases[] = {
        {"render missing.mid -o out.wav", "bytone: missing.mid: No such file or directory\n"},
        {"render . -o out.wav", "bytone: .: Is a directory\n"},
        {"render -o out.wav --state notes.txt", "bytone: notes.txt: not a Bytone state file\n"},
        {"render text.mid -o out.wav", "bytone: text.mid: not a Standard MIDI File: no MThd header at byte 0\n"},
        {"--plugin /nonexistent/plugin.so info", "bytone: cannot load /nonexistent/plugin.so: "},
        {"programs --state short.fxb", "bytone: short.fxb: state file of 8 bytes ends inside its header\n"},
        {"programs --state missing.fxb", "bytone: missing.fxb: No such file or directory\n"},
        // A command line that cannot be followed: 2, and the subcommand's help named.
        {"render -o out.mp3", "unknown sound file type '.mp3' (use .wav or .flac) (bytone render --help)\n", 2},
        {"render -o out.wav --channels 0", "names a channel outside 1 to 16", 2},
        {"render -o out.wav --channels 1,17", "names a channel outside 1 to 16", 2},
        {"render -o out.wav --channels 4-2", "names a channel outside 1 to 16, or an empty range", 2},
        {"render -o out.wav --channels x", "'x' in --channels 'x' is not a whole number (bytone render --help)\n", 2},
        {"render -o out.wav --channels ''", "--channels '' names no channel", 2},
        {"render --bogus -o out.wav", "bytone: The following argument was not expected: --bogus (bytone render --help)",
         2},
        {"render", "bytone: --output is required (bytone render --help)\n", 2},
        {"--plugin x.so eval", "bytone: formula is required (bytone eval --help)\n", 2},
        {"bogus", "bytone: 'bogus' is not a command; the commands are render, programs, info, eval, scope, note", 2},
        // Numbers are read one way everywhere, and only what can be meant is taken.
        {"render -o out.wav --gain nan", "bytone: --gain wants a finite number (bytone render --help)\n", 2},
        {"render -o out.wav --gain 1000", "bytone: --gain wants -120 to 40 dB", 2},
        {"render -o out.wav --tail inf", "--tail", 2},
        {"render -o out.wav --rate 44100.5", "--rate: '44100.5' is not a whole number from 8000 to 384000", 2},
        {"render -o out.wav --rate 0x10", "--rate: 0x10 is outside 8000 to 384000", 2},
        {"scope P -o p.png --zoom 8", "--zoom: 8 is outside 0 to 7 (bytone scope --help)\n", 2},
        {"eval P --set P=0x1g", "'0x1g' in --set P=0x1g is not a whole number", 2},
        {"eval Q --set Q=5", "--set Q=5: Q is 0 in every voice; set T, P, V, M, R, S, C or a word", 2},
        {"eval P --set PP=3", "--set wants NAME=VALUE, NAME one of T, P, V, M, R, S, C, ", 2},
        {"eval P --table P=5:9:-1", "is empty, endless", 2},
        {"eval P --table P=-0x7FFFFFFF:0x7FFFFFFF", "longer than ten million rows", 2},
        {"render -o out.wav --poly 9", "bytone: --poly 9 is outside 1 to 8 (bytone render --help)\n", 2},
        {"render -o out.wav --time 0x10x", "is not a whole number", 2},
        {"render -o out.wav --time 0x8000000000000000", "is outside the 64-bit range", 2},
        {"render -o out.wav --lerp maybe", "--lerp: maybe not in {on,off}", 2},
        // Nothing that could sound is no success.
        {"render -o out.wav --formula ''", "bytone: --formula is empty: a voice of it would be silent", 2},
        {"render quiet.mid -o out.wav", "bytone: quiet.mid plays no notes: nothing would sound\n"},
        {"render song.mid -o out.wav --channels 2", "bytone: channels 2 of song.mid play no notes"},
        // Files are named as files.
        {"render -o out", "bytone: out: no file type; name a .wav or .flac file, or give --type", 2},
        {"render -o ./out", "bytone: ./out: no file type", 2},
        {"render -o - --type ogg", "--type: ogg not in {wav,flac}", 2},
        {"render -o - --type flac --format float", "-: FLAC holds 16- or 24-bit samples, not floats", 2},
        {"render - -o out.wav", "bytone: MIDI from standard input is not supported; name the MIDI file", 2},
        {"scope P -o p.jpg", "bytone: p.jpg: the picture is a PNG; name a .png file (bytone scope --help)\n", 2},
        {"note P -o n.png --seconds nan", "bytone: --seconds wants a finite number (bytone note --help)\n", 2},
        // Outputs are checked before anything is rendered.
        {"render -o out.wav --save-state out.wav", "bytone: out.wav: is named as two outputs", 2},
        {"render -o out.wav --save-state ./out.wav", "bytone: ./out.wav: is named as two outputs", 2},
        {"render -o - --save-state -", "bytone: -: is named as two outputs", 2},
        {"render song.mid -o song.mid", "bytone: song.mid: is also an input; it would be overwritten", 2},
        {"render -o x.wav --state notes.txt --save-state notes.txt", "notes.txt: is also an input", 2},
        {"render -o /nonexistent/x.wav", "bytone: /nonexistent/x.wav: the folder /nonexistent does not exist\n"},
        {"render -o out.wav --save-state /nonexistent/x.fxb", "the folder /nonexistent does not exist"},
        {"render -o /proc/x.wav", "bytone: /proc/x.wav: the folder /proc takes no new file: "},
        {"render -o /tmp", "bytone: /tmp: is a folder; name a file to write\n"},
        {"render -o song.mid/x.wav", "bytone: song.mid/x.wav: song.mid is not a folder\n"},
        {"scope P -o /nonexistent/p.png", "the folder /nonexistent does not exist"},
        // Nothing runs away.
        {"render endless.mid -o out.wav",
         "bytone: the render would last 388:21:42.3, longer than --max-length (3600 s); give a larger --max-length to "
         "render it\n"},
        {"render -o out.wav --max-length 10", "the render would last 0:20.5, longer than --max-length (10 s)"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n') <= 2, true) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out.wav"));  // no case wrote anything
    EXPECT_EQ(readText(dir / "song.mid").substr(0, 4), "MThd");
}

TEST_F(CliTest, TheInstrumentsSettingsAreSetBeforeTheFirstNoteAndSaved) {
    writeSong("song.mid");
    Result r = run("render song.mid -o a.wav --poly 1 --porta 40 --time 75 --lerp on --clamp off --save-state a.chunk");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> bytes = bytesOf("a.chunk");
    ASSERT_GT(bytes.size(), 11u * 4);
    float chunk[11];
    std::memcpy(chunk, bytes.data(), sizeof chunk);
    // The tags' values: polyphony, portamento, time scale, interpolation, clamping.
    EXPECT_EQ((std::vector<float>{chunk[2], chunk[4], chunk[6], chunk[8], chunk[10]}),
              (std::vector<float>{1, 40, 75, 1, 0}));
    r = run("render song.mid -o b.wav --lerp off");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(samplesOf("a.wav"), samplesOf("b.wav"));  // the settings were there for the first note
}

TEST_F(CliTest, WarningsSayWhereTheLevelIsLostAndWhatHelps) {
    MidiTrack chord;  // five voices of 0.25 at once: 1.25, past the instrument's limit
    for (int key : {60, 62, 64, 65, 67}) chord.event(0, {0x90, static_cast<uint8_t>(key), 100});
    chord.end(96);
    write("chord.mid", midiFile(0, 96, {chord}));
    MidiTrack chords;  // the chord on two channels: each instance at its limit, and their mix past it
    for (uint8_t status : {0x90, 0x91})
        for (int key : {60, 62, 64, 65, 67}) chords.event(0, {status, static_cast<uint8_t>(key), 100});
    chords.end(96);
    write("chords.mid", midiFile(0, 96, {chords}));
    MidiTrack loud;  // one voice of 0.25, unsigned: it sits above zero
    loud.event(0, {0x90, 60, 100}).end(96);
    write("one.mid", midiFile(0, 96, {loud}));
    MidiTrack crowded;  // more messages at one tick than a plug-in's block holds, then the note
    for (int i = 0; i < 4100; ++i) crowded.event(0, {0xB0, 1, 100});
    crowded.event(0, {0x90, 60, 100}).end(96);
    write("crowded.mid", midiFile(0, 96, {crowded}));
    struct Case {
        const char* arguments;
        std::vector<const char*> warnings;
    };
    const Case cases[] = {
        {"render chord.mid -o a.wav --formula 1000 --tail 0",
         {"frames reach the instrument's own limit, which --gain cannot undo; --split plays each channel"}},
        {"render chord.mid -o a.wav --formula 1000 --tail 0 --gain -6", {"reach the instrument's own limit"}},
        {"render one.mid -o a.wav --formula 255 --tail 0 --gain 13",
         {"frames of the file reach full scale; lower them with --gain, or take out the mix's constant part (it "
          "sits at +1.11) with --highpass 20"}},
        {"render chords.mid -o a.wav --formula 1000 --tail 0 --split",
         {"reach the instrument's own limit, which --gain cannot undo; the channels that reach it are marked above",
          "frames of the file reach full scale; lower them with --gain"}},
        {"render one.mid -o a.wav --formula 0 --tail 0", {"bytone: warning: the render is silent"}},
        {"render one.mid -o a.wav --formula 255 --tail 0", {}},
        {"render one.mid -o a.wav --formula 255 --formula 0 --tail 0", {"the render is silent"}},  // the last
        {"render crowded.mid -o a.wav --formula 255 --tail 0", {}},  // no message is dropped
        {"render crowded.mid -o a.wav --formula 255 --tail 0 --plugin " BYTONE_PLUGIN_PATH, {}},
    };
    for (const Case& c : cases) {
        const Result r = run(c.arguments);
        EXPECT_EQ(r.status, 0) << c.arguments << ": " << r.err;
        EXPECT_EQ(static_cast<size_t>(std::count(r.err.begin(), r.err.end(), '\n')), c.warnings.size())
            << c.arguments << ": " << r.err;
        for (const char* warning : c.warnings) EXPECT_NE(r.err.find(warning), std::string::npos) << r.err;
    }
}

TEST_F(CliTest, AnInterruptedRenderKeepsTheFileItWasToReplace) {
    write("keep.wav", {'o', 'l', 'd'});
    writeSong("song.mid");
    for (const int signal : {SIGINT, SIGTERM}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(dir.c_str()) != 0) _exit(99);
            if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(97);
            execl(BYTONE_TOOL_PATH, "bytone", "render", "song.mid", "-o", "keep.wav", "--tail", "3000", nullptr);
            _exit(98);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(600));  // well inside the 50 minutes' render
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_TRUE(readText(dir / "keep.wav") == "old") << "the file was replaced";
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"keep.wav", "song.mid"})) << "a temporary file was left";
    }
    const Result r = run("render -o keep.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samplesOf("keep.wav").size(), 2u * 48000 * 41 / 2);  // 20.5 s, in place of the old one
}

TEST_F(CliTest, ASavedBankComesBackWithEveryProgram) {
    writeSong("song.mid");
    Result r = run("render song.mid -o first.wav --program 7 --formula 'T*P>>9' --save-state bank.fxb");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> fxb = bytesOf("bank.fxb");
    ASSERT_GT(fxb.size(), 160u);
    EXPECT_EQ(std::string(fxb.begin(), fxb.begin() + 4), "CcnK");
    EXPECT_EQ(std::string(fxb.begin() + 8, fxb.begin() + 12), "FBCh");
    EXPECT_EQ(std::string(fxb.begin() + 16, fxb.begin() + 20), "byto");
    EXPECT_EQ(fxb[31], 7);  // the current program

    r = run("programs --state bank.fxb");
    EXPECT_NE(r.out.find(programLine(7, "008 Radio", "T*P>>9")), std::string::npos) << r.out;
    r = run("render song.mid -o second.wav --state bank.fxb --save-state again.fxb");  // program 7 comes back
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytesOf("again.fxb"), fxb);
    EXPECT_EQ(samplesOf("second.wav"), samplesOf("first.wav"));

    r = run("render song.mid -o third.wav --save-state one.fxp");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("render song.mid -o fourth.wav --save-state raw.bin --state one.fxp");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> fxp = bytesOf("one.fxp");
    EXPECT_EQ(std::vector<uint8_t>(fxp.begin() + 60, fxp.end()), bytesOf("raw.bin"));
}

TEST_F(CliTest, ChannelsPlayAloneOrEachThroughAnInstanceOfItsOwn) {
    // Channel 1 plays a saw from the start, channel 2 another program a little later.
    MidiTrack both, first;
    both.event(0, {0xC1, 23}).event(0, {0x90, 57, 100}).event(240, {0x91, 64, 100});
    both.event(720, {0x80, 57, 0}).event(0, {0x81, 64, 0}).end();
    first.event(0, {0x90, 57, 100}).event(960, {0x80, 57, 0}).end();
    write("both.mid", midiFile(0, 480, {both}));
    write("first.mid", midiFile(0, 480, {first}));
    for (const char* command :
         {"render both.mid -o one.wav --format float --channels 1", "render first.mid -o alone.wav --format float",
          "render both.mid -o two.wav --format float --channels 2-2",
          "render both.mid -o mix.wav --format float --split"}) {
        const Result r = run(command);
        ASSERT_EQ(r.status, 0) << command << r.err;
        if (std::string(command).find("--split") != std::string::npos) {
            EXPECT_NE(r.out.find("channel  1  001 Saw"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("channel  2  024 Triangle"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("dBFS"), std::string::npos) << r.out;
        }
    }
    const std::vector<float> one = samplesOf("one.wav"), two = samplesOf("two.wav"), mix = samplesOf("mix.wav");
    EXPECT_EQ(one, samplesOf("alone.wav"));
    ASSERT_EQ(mix.size(), one.size());
    int apart = 0;
    for (size_t i = 0; i < mix.size(); ++i) apart += std::fabs(mix[i] - (one[i] + two[i]) / std::sqrt(2.0f)) > 1e-6f;
    EXPECT_EQ(apart, 0);

    // Loud enough to clip: the mix says so.
    Result r = run("render both.mid -o loud.wav --split --gain 30");
    EXPECT_NE(r.err.find("frames of the file reach full scale; lower them with --gain"), std::string::npos) << r.err;
    // The saw swings above zero only; a high-pass takes its constant part out.
    r = run("render first.mid -o centred.wav --format float --highpass 20");
    ASSERT_EQ(r.status, 0) << r.err;
    auto mean = [](const std::vector<float>& samples) {
        double sum = 0.0;
        for (float s : samples) sum += s;
        return sum / static_cast<double>(samples.size());
    };
    EXPECT_GT(mean(one), 0.03);
    EXPECT_LT(std::fabs(mean(samplesOf("centred.wav"))), 0.002);
}

TEST_F(CliTest, OutputFormatsFollowTheFileAndTheOptions) {
    writeSong("song.mid");
    for (const char* arguments : {"-o a.wav", "-o b.wav --format 24", "-o c.wav --format float", "-o d.flac",
                                  "-o e.flac --format 24 --rate 44100"}) {
        const Result r = run(std::string("render song.mid --tail 0.1 ") + arguments);
        EXPECT_EQ(r.status, 0) << arguments << r.err;
    }
    int rate = 0;
    const std::vector<float> reference = samplesOf("c.wav", &rate);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(reference.size(), 2u * (24000 + 4800));
    EXPECT_EQ(samplesOf("a.wav"), reference);  // the instrument's levels are exact in 16 bits
    EXPECT_EQ(samplesOf("d.flac"), reference);
    samplesOf("e.flac", &rate);
    EXPECT_EQ(rate, 44100);
    Result r = run("render song.mid -o f.flac --format float");
    EXPECT_NE(r.status, 0);

    // Standard output, or a device: the same file, and what the tool says on standard error.
    r = run("render song.mid --tail 0.1 --format float -o -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("wrote standard output: 0.60 seconds"), std::string::npos) << r.err;
    write("stdout.wav", std::vector<uint8_t>(r.out.begin(), r.out.end()));
    EXPECT_EQ(samplesOf("stdout.wav"), reference);
    r = run("render song.mid --tail 0.1 -o - --type flac -q");
    EXPECT_EQ(r.out.substr(0, 4), "fLaC");
    EXPECT_EQ(r.err, "");
    r = run("render song.mid --tail 0.1 -o /dev/null --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    r = run("scope P -o -");
    EXPECT_EQ(r.out.substr(1, 3), "PNG");

    // A symbolic link is written through, and the file it leads to keeps its mode.
    write("kept.wav", {'o', 'l', 'd'});
    fs::permissions(dir / "kept.wav", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("kept.wav", dir / "link.wav");
    r = run("render song.mid --tail 0.1 -o link.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
    EXPECT_EQ(samplesOf("kept.wav"), reference);
    EXPECT_EQ(fs::status(dir / "kept.wav").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(CliTest, TheDemoSoundsTheSameEveryTimeBelowFullScale) {
    Result r = run("render -o demo1.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "rendering 0:20.5 (20.50 seconds) at 48000 Hz\nwrote " + (dir / "demo1.wav").string() +
                         ": 20.50 seconds at 48000 Hz\n");
    r = run("render -o demo2.wav --block 97");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytesOf("demo1.wav"), bytesOf("demo2.wav"));
    // The instrument limits its sum to -1..1: a sample at either end means the demo clips.
    r = run("render -o demo3.wav --format float");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<float> samples = samplesOf("demo3.wav");
    double energy = 0.0;
    for (float s : samples) energy += s * s;
    EXPECT_GT(std::sqrt(energy / static_cast<double>(samples.size())), 0.1);
    EXPECT_EQ(std::count_if(samples.begin(), samples.end(), [](float s) { return std::fabs(s) >= 1.0f; }), 0);
}

// Without --plugin the render hosts bytone.clap: the VST 2.4 plug-in's samples for the
// classic language, and for words the song's tempo map and signatures as the transport.
TEST_F(CliTest, RendersThroughTheClapPlugInWithTheSongsTransport) {
    writeSong("song.mid");
    const std::string vst = " --plugin '" BYTONE_PLUGIN_PATH "'";
    for (const char* options : {"render -o", "render song.mid --format float --program 5 -o",
                                "render song.mid --formula 'P*T>>9&255' --lerp on --poly 1 -o"}) {
        ASSERT_EQ(run(std::string(options) + " clap.wav").status, 0) << options;
        ASSERT_EQ(run(vst + " " + options + " vst.wav").status, 0) << options;
        // The samples: a float file's PEAK chunk holds the time it was written.
        EXPECT_EQ(samplesOf("clap.wav"), samplesOf("vst.wav")) << options;
    }
    // A note held for eight quarter notes at 150 BPM in 7/8, the tempo 100 from the fifth
    // (frame 76,800).
    MidiTrack track;
    track.tempo(0, 400000).event(0, {0xFF, 0x58, 0x04, 0x07, 0x03, 0x18, 0x08}).event(0, {0x90, 60, 100});
    track.tempo(4 * 480, 600000).event(4 * 480, {0x80, 60, 0}).end();
    write("song.mid", midiFile(0, 480, {track}));
    const auto beat = [](int64_t n) {
        constexpr int64_t kPerMinute = 60 * 48000;
        return n < 76800 ? n * 150 * 32768 / kPerMinute : 4 * 32768 + (n - 76800) * 100 * 32768 / kPerMinute;
    };
    const struct {
        const char* formula;
        std::function<int64_t(int64_t)> value;
    } cases[] = {
        {"beat&255", [&](int64_t n) { return beat(n) & 255; }},
        {"beat>>8&255", [&](int64_t n) { return beat(n) >> 8 & 255; }},
        {"bar>>13", [&](int64_t n) { return beat(n) / 114688 * 114688 >> 13; }},
        {"note,(beat-start)>>8&255", [&](int64_t) { return 60; }},
    };
    for (const auto& c : cases) {
        const Result r =
            run(std::string("render song.mid --tail 0 --format float --formula '") + c.formula + "' -o words.wav");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<float> stereo = samplesOf("words.wav");
        int64_t wrong = -1;
        for (size_t n = 0; n + 1 < stereo.size() && wrong < 0; n += 2)
            if (stereo[n] != static_cast<float>(c.value(static_cast<int64_t>(n / 2))) / 1024.0f)
                wrong = static_cast<int64_t>(n / 2);
        EXPECT_EQ(wrong, -1) << c.formula;
    }
    // The instrument's own Gain, in the state; a VST 2.4 plug-in has none to set, nor stereo.
    ASSERT_EQ(run("render song.mid --tail 0 --format float --formula 'P&255' --level 50 -o half.wav").status, 0);
    ASSERT_EQ(run("render song.mid --tail 0 --format float --formula '(P&255)>>1' -o shifted.wav").status, 0);
    EXPECT_EQ(samplesOf("half.wav"), samplesOf("shifted.wav"));
    Result r = run(vst + " render song.mid --level 50 -o x.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--level"), std::string::npos) << r.err;
    r = run(vst + " render song.mid --mpe on -o x.wav");
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(run("render song.mid --mpe on --save-state mpe.bin -o x.wav").status, 0);
    const std::vector<uint8_t> state = bytesOf("mpe.bin"), mpeTag = {0x45, 0x2a, 0x7a, 0x4d};
    EXPECT_NE(std::search(state.begin(), state.end(), mpeTag.begin(), mpeTag.end()), state.end())
        << "the state keeps MPE on";
    r = run(vst + " render song.mid --formula 'P,T' -o x.wav");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "bytone: Unexpected symbol during parsing at 2\n  P,T\n   ^\n");
    // A release lengthens the tail to be heard whole, and sounds after the notes end.
    ASSERT_EQ(run("render song.mid --format float --formula 100 -o plain.wav").status, 0);
    ASSERT_EQ(run("render song.mid --format float --formula 100 --release 2500 -o released.wav").status, 0);
    const std::vector<float> plain = samplesOf("plain.wav"), released = samplesOf("released.wav");
    EXPECT_EQ(released.size(), plain.size() + 2 * 48000 * 3 / 2);
    EXPECT_GT(released[plain.size() - 2], 0.03f);
    // Float samples in the header that readers expect of them: sox reads them without a warning.
    ASSERT_EQ(std::system(("cd '" + dir.string() + "' && sox plain.wav -n stat 2> sox.txt").c_str()), 0);
    EXPECT_EQ(readText(dir / "sox.txt").find("WARN"), std::string::npos) << readText(dir / "sox.txt");
    // The DC filter takes a constant away within the note of half a second.
    ASSERT_EQ(run("render song.mid --format float --formula 100 --dc on -o dc.wav").status, 0);
    const std::vector<float> filtered = samplesOf("dc.wav");
    EXPECT_EQ(plain[2 * 19200], 100.0f / 1024);
    EXPECT_LT(std::abs(filtered[2 * 19200]), 1e-6f);
    // The oversampling filters' delay is made up for: the note's constant is reached a
    // filter's half-length after the note's frame, not a delay later.
    ASSERT_EQ(run("render song.mid --format float --formula 100 --oversample 8 -o eightfold.wav").status, 0);
    const std::vector<float> eightfold = samplesOf("eightfold.wav");
    EXPECT_EQ(eightfold.size(), plain.size());
    EXPECT_NEAR(eightfold[2 * 28], 100.0f / 1024, 1e-5f);
}

TEST_F(CliTest, HostsAnInstrumentThatNobodyHereWrote) {
    ASSERT_STRNE(FOREIGN_INSTRUMENT, "") << "amsynth's VST plug-in is not installed";
    MidiTrack track;  // 480 ticks a quarter at 120 beats a minute: 240 ticks are 0.25 s
    track.event(240, {0x90, 69, 100}).event(480, {0x80, 69, 0}).event(480, {0x90, 81, 100});
    track.event(480, {0x80, 81, 0}).end();
    write("two.mid", midiFile(0, 480, {track}));
    // Under the leak checker the foreign plug-in's own leaks would fail the run.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const Result r = run("--plugin '" FOREIGN_INSTRUMENT "' render two.mid -o foreign.wav --block 64");
    unsetenv("ASAN_OPTIONS");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<float> stereo = samplesOf("foreign.wav");
    std::vector<float> left;
    for (size_t i = 0; i < stereo.size(); i += 2) left.push_back(stereo[i]);
    ASSERT_EQ(left.size(), 48000u * 11 / 4);

    struct Note {
        size_t onset;
        double hertz;
    };
    for (const Note& note : {Note{12000, 440.0}, Note{60000, 880.0}}) {
        size_t first = note.onset - 4800;
        while (first < left.size() && std::fabs(left[first]) < 1e-3f) ++first;
        EXPECT_GE(first, note.onset) << "sound before the note";
        EXPECT_LT(first, note.onset + 64) << "onset late";
        // Count upward zero crossings over 0.4 s of the held note.
        int crossings = 0;
        for (size_t i = note.onset + 2400; i < note.onset + 2400 + 19200; ++i)
            crossings += left[i - 1] < 0.0f && left[i] >= 0.0f;
        EXPECT_NEAR(crossings / 0.4, note.hertz, note.hertz * 0.01);
    }
}

}  // namespace
