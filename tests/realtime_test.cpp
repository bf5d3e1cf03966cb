// The audio thread makes no system call and meets no fresh page: a thread renders under
// a seccomp filter that traps every system call but those its own end needs, and counts
// the traps and its minor page faults. The same filter shows that compiling a formula
// again, or restoring the bank the instrument holds, makes no system call either. Its host calls back into the plug-in
// from inside the block's updateDisplay while another thread holds the bank lock: a lock wait would be a futex call,
// trapped like any other.
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/bytone.h"
#include "instrument_probe.h"
#include "recording_host.h"
#include "vst_events.h"

namespace {

std::atomic<int> trappedCalls{0};
std::atomic<long> firstTrapped{-1};

// Counts the call and lets it fail as an unknown call would, so that the code under test
// goes on (to its next call) rather than meeting a return value that is no answer.
void onTrap(int, siginfo_t* info, void* context) {
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RAX] = -ENOSYS;
    long expected = -1;
    firstTrapped.compare_exchange_strong(expected, info->si_syscall);
    ++trappedCalls;
}

// Allows only what ends a thread and the count of page faults; traps everything else,
// a lock wait (futex) included.
bool forbidSystemCalls() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_getrusage, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 4, 0),
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

// The stack below the caller, 64 KB of it, touched as a host's audio thread has long
// touched it (its other plug-ins, its own mixing).
__attribute__((noinline)) void touchStack() {
    volatile char deep[65536];
    for (size_t at = 0; at < sizeof deep; at += 1024) deep[at] = 0;
}

long minorFaultsOfThisThread() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

// Tests whose threads run under the filter: the trap is caught and counted.
class SystemCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "the sanitizers' runtimes make system calls of their own";
#endif
        struct sigaction action {};
        action.sa_sigaction = onTrap;
        action.sa_flags = SA_SIGINFO;
        ASSERT_EQ(sigaction(SIGSYS, &action, nullptr), 0);
        trappedCalls = 0;
        firstTrapped = -1;
    }
};
using AudioThread = SystemCallsTest;
using CompilingSide = SystemCallsTest;

// A host that answers updateDisplay as some do: by asking, on the same thread, for the
// current program, its name and the names of its program list.
AEffect* reentered = nullptr;
int reentries = 0;
VstIntPtr VSTCALLBACK reenteringHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                     float opt) {
    if (opcode == audioMasterUpdateDisplay && effect == reentered) {
        ++reentries;
        char name[kVstMaxProgNameLen + 1];
        void* chunk = nullptr;
        const auto program = static_cast<VstInt32>(effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f));
        effect->dispatcher(effect, effGetProgramName, 0, 0, name, 0.0f);
        effect->dispatcher(effect, effGetProgramNameIndexed, (program + 1) % kNumPrograms, 0, name, 0.0f);
        effect->dispatcher(effect, effGetChunk, 0, 0, &chunk, 0.0f);  // refused here: it takes the lock
        effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
    }
    return RecordingHost::callback(effect, opcode, index, value, ptr, opt);
}

TEST_F(AudioThread, MakesNoSystemCallAndMeetsNoFreshPageOverTenThousandBlocks) {
    RecordingHost::reset();
    auto plugin = std::make_unique<Bytone>(reenteringHost);
    engine::Instrument* synth = &plugin->instrument();
    inside(*synth).interpolate = true;
    inside(*synth).programs[3].drumKey = 38;
    // Program 3's new formula waits behind program 2's failure: the program changes
    // inside the blocks walk to it on the audio thread.
    std::strcpy(inside(*synth).programs[2].formula, "P+(");
    std::strcpy(inside(*synth).programs[3].formula, "P*5&255^T");
    inside(*synth).programs[2].needsCompile = inside(*synth).programs[3].needsCompile = true;
    // The longest formulas, first played inside the blocks.
    for (int i = kNumPrograms - 4; i < kNumPrograms; ++i) {
        const std::string term = i % 2 ? "%3" : "+(T*7)";
        std::string formula = "P";
        while (formula.size() + term.size() <= 1023) formula += term;
        std::snprintf(inside(*synth).programs[i].formula, kFormulaSize, "%s", formula.c_str());
        inside(*synth).programs[i].needsCompile = true;
    }
    {
        std::lock_guard<std::mutex> hold(synth->bankLock());
        synth->compileDirtyPrograms();
    }
    ASSERT_TRUE(synth->isMarked(3));
    // Every program is selected and played in turn.
    std::vector<EventBlock> blocks;
    for (int b = 0; b < kNumPrograms; ++b) {
        blocks.emplace_back(
            std::vector<VstMidiEvent>{vstMidiEvent(0xC0, b, 0, 0), vstMidiEvent(0x90, 40 + b % 16, 100, b % 7),
                                      vstMidiEvent(0x80, 40 + (b + 8) % 16, 0, 300),
                                      vstMidiEvent(0xE0, b * 8 % 128, 64, 100), vstMidiEvent(0xB0, 1, b * 8 % 128, 200),
                                      vstMidiEvent(0xC0, b % 4, 0, 400), vstMidiEvent(0x99, 38, 100, 50)});
    }
    std::vector<float> left(512), right(512);
    float* outputs[2] = {left.data(), right.data()};
    RecordingHost::calls.reserve(64);
    bool filtered = false;
    long faults = -1;
    int trappedInBlocks = -1;
    // The compiling side stalled: the bank lock is held all through the blocks (at most
    // a minute, so that a plug-in that waits for it fails instead of hanging).
    std::atomic<bool> locked{false}, done{false};
    std::thread stalled([&] {
        std::lock_guard<std::mutex> hold(synth->bankLock());
        locked = true;
        for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    while (!locked) std::this_thread::yield();
    std::thread audio([&] {
        // What a host's audio thread has long done by its first block: its allocator cache
        // set up (with a system call), its stack and the process's code pages touched
        // (another instance's blocks, on the same code).
        void* volatile warmUp = std::malloc(64);
        std::free(warmUp);
        touchStack();
        {
            auto other = std::make_unique<Bytone>(reenteringHost);
            inside(other->instrument()).interpolate = true;
            for (int block = 0; block < 4; ++block) {
                RecordingHost::calls.clear();
                other->processEvents(blocks[block * 9].get());
                other->processReplacing(nullptr, outputs, 512);
            }
        }
        reentered = plugin->getAeffect();
        const long before = minorFaultsOfThisThread();
        filtered = forbidSystemCalls();
        if (!filtered) return;
        for (int block = 0; block < 10000; ++block) {
            RecordingHost::calls.clear();
            plugin->processEvents(blocks[block % blocks.size()].get());
            plugin->processReplacing(nullptr, outputs, 512);
        }
        faults = minorFaultsOfThisThread() - before;
        trappedInBlocks = trappedCalls;  // before the thread's own end
    });
    audio.join();
    done = true;
    stalled.join();
    ASSERT_TRUE(filtered) << "this kernel does not allow seccomp filters";
    EXPECT_EQ(trappedInBlocks, 0) << "first system call: " << firstTrapped;
    EXPECT_EQ(faults, 0) << "minor page faults on the audio thread";
    EXPECT_GE(reentries, kNumPrograms) << "the host was told of every program change";
}

TEST_F(CompilingSide, CompilesAnUnchangedFormulaOrRestoresTheSameBankWithoutASystemCall) {
    auto synth = std::make_unique<engine::Instrument>();
    const void* data = nullptr;
    const int32_t bytes = synth->saveState(&data);
    const std::vector<char> bank(static_cast<const char*>(data), static_cast<const char*>(data) + bytes);
    bool filtered = false;
    int trapped = -1;
    std::thread compiling([&] {
        void* volatile warmUp = std::malloc(64);  // this thread's allocator, set up as any thread's is
        std::free(warmUp);
        filtered = forbidSystemCalls();
        if (!filtered) return;
        for (int round = 0; round < 1000; ++round) {
            {
                std::lock_guard<std::mutex> hold(synth->bankLock());
                inside(*synth).programs[round % kNumPrograms].needsCompile = true;  // as the editor marks an edit
                synth->compileDirtyPrograms();
            }
            if (round % 100 == 0) synth->restoreState(bank.data(), bytes);
        }
        trapped = trappedCalls;
    });
    compiling.join();
    ASSERT_TRUE(filtered) << "this kernel does not allow seccomp filters";
    EXPECT_EQ(trapped, 0) << "first system call: " << firstTrapped;
}

}  // namespace
