// The audio thread makes no system call and meets no fresh page: a thread renders under
// a seccomp filter that traps every system call but those its own start and end need,
// and counts the traps and its minor page faults.
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine_fixture.h"

namespace {

std::atomic<int> trappedCalls{0};
std::atomic<long> firstTrapped{-1};

void onTrap(int, siginfo_t* info, void*) {
    long expected = -1;
    firstTrapped.compare_exchange_strong(expected, info->si_syscall);
    ++trappedCalls;
}

// Allows only what ends a thread, a lock wait and the count of page faults; traps
// everything else.
bool forbidSystemCalls() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_getrusage, 7, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_futex, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_madvise, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_rt_sigprocmask, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_rt_sigreturn, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

long minorFaultsOfThisThread() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

using AudioThread = EngineTest;

TEST_F(AudioThread, MakesNoSystemCallAndMeetsNoFreshPageOverTenThousandBlocks) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtimes make system calls of their own";
#endif
    struct sigaction action {};
    action.sa_sigaction = onTrap;
    action.sa_flags = SA_SIGINFO;
    ASSERT_EQ(sigaction(SIGSYS, &action, nullptr), 0);

    synth->interpolate = true;
    synth->programs[3].drumKey = 38;
    // Program 3's new formula waits behind program 2's failure: the program changes
    // inside the blocks walk to it on the audio thread.
    std::strcpy(synth->programs[2].formula, "P+(");
    std::strcpy(synth->programs[3].formula, "P*5&255^T");
    synth->programs[2].needsCompile = synth->programs[3].needsCompile = true;
    // The longest formulas, first played inside the blocks.
    for (int i = kNumPrograms - 4; i < kNumPrograms; ++i) {
        const std::string term = i % 2 ? "%3" : "+(T*7)";
        std::string formula = "P";
        while (formula.size() + term.size() <= 1023) formula += term;
        std::snprintf(synth->programs[i].formula, kFormulaSize, "%s", formula.c_str());
        synth->programs[i].needsCompile = true;
    }
    synth->compileDirtyPrograms();
    ASSERT_TRUE(synth->isMarked(3));
    // Every program is selected and played in turn.
    std::vector<EventBlock> blocks;
    for (int b = 0; b < kNumPrograms; ++b) {
        blocks.emplace_back(std::vector<VstMidiEvent>{
            midiEvent(0xC0, b, 0, 0), midiEvent(0x90, 40 + b % 16, 100, b % 7),
            midiEvent(0x80, 40 + (b + 8) % 16, 0, 300), midiEvent(0xE0, b * 8 % 128, 64, 100),
            midiEvent(0xB0, 1, b * 8 % 128, 200), midiEvent(0xC0, b % 4, 0, 400), midiEvent(0x99, 38, 100, 50)});
    }
    std::vector<float> left(512), right(512);
    float* outputs[2] = {left.data(), right.data()};
    RecordingHost::calls.reserve(64);
    bool filtered = false;
    long faults = -1;
    std::thread audio([&] {
        // What a host's audio thread has long done by its first block: its allocator cache
        // set up (with a system call), its stack and the process's code pages touched
        // (another instance's blocks, on the same code).
        void* volatile warmUp = std::malloc(64);
        std::free(warmUp);
        {
            Bytone other(RecordingHost::callback);
            other.interpolate = true;
            for (int block = 0; block < 4; ++block) {
                RecordingHost::calls.clear();
                other.processEvents(blocks[block * 9].get());
                other.processReplacing(nullptr, outputs, 512);
            }
        }
        const long before = minorFaultsOfThisThread();
        filtered = forbidSystemCalls();
        if (!filtered) return;
        for (int block = 0; block < 10000; ++block) {
            RecordingHost::calls.clear();
            synth->processEvents(blocks[block % blocks.size()].get());
            synth->processReplacing(nullptr, outputs, 512);
        }
        faults = minorFaultsOfThisThread() - before;
    });
    audio.join();
    ASSERT_TRUE(filtered) << "this kernel does not allow seccomp filters";
    EXPECT_EQ(trappedCalls, 0) << "first system call: " << firstTrapped;
    EXPECT_EQ(faults, 0) << "minor page faults on the audio thread";
}

}  // namespace
