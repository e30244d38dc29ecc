// Whole scripted runs of the built program (nine entries on standard input, the
// screen text into a pipe) against the same pipes into /bin/true, which starts and
// ends at once: the program's cost over a bare process start, as the ratio of the
// real times per run. Measured twice: with this program writing the input and
// reading the output, and through the shell pipeline a user types,
// sh -c "printf '...' | invar", read from a pipe. The runs have no DISPLAY (the
// terminal's scripted run, whatever desktop the benchmark is started from) and no
// ZVGFX. The goal is a ratio of at most 1.3. A path given as the one argument that
// is not a benchmark flag is run instead of the built program. The least program
// linked as the program is (bench/least_program.cpp) is timed too: its ratio is the
// floor that start-up alone sets.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/figure_reporter.h"

extern char** environ;

namespace {

const char* const ENTRIES = "1\n0\n0\n0\n1\n0\n0\n0\n1\n";
constexpr double GOAL = 1.3;  // the scripted run at most this many times /bin/true
constexpr size_t TRANSCRIPT_MIN = 1000;  // a whole run prints more than this

std::string program = ZV_INVAR_BINARY;

// Starts the command with the input on a pipe and its standard output on another,
// writes the input, reads the output to its end and waits for the command. The
// bytes read, or -1 when the command could not run or did not exit with 0.
long run_once(const std::vector<std::string>& command, const std::string& input) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return -1;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // This program ignores SIGPIPE; the commands get its default action, as from a shell.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (spawned == 0) {
    // A command that does not read gives EPIPE, which is no failure here.
    for (size_t done = 0; done < input.size();) {
      ssize_t n = write(in[1], input.data() + done, input.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  close(in[1]);
  long total = 0;
  char buffer[8192];
  for (;;) {
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  close(out[0]);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? total : -1;
}

// The shell pipeline: the entries from printf, the command's output into our pipe.
std::vector<std::string> through_shell(const std::string& command) {
  std::string line = "printf '";
  for (const char* c = ENTRIES; *c; ++c) line += *c == '\n' ? std::string("\\n") : std::string(1, *c);
  return {"/bin/sh", "-c", line + "' | '" + command + "'"};
}

void run_all(benchmark::State& state, const std::vector<std::string>& command, const std::string& input,
             size_t least_output) {
  for (auto _ : state) {
    long bytes = run_once(command, input);
    if (bytes < 0 || static_cast<size_t>(bytes) < least_output) {
      state.SkipWithError("the run failed or printed too little");
      break;
    }
  }
}

void BM_ScriptedRun(benchmark::State& state) { run_all(state, {program}, ENTRIES, TRANSCRIPT_MIN); }
void BM_PipeIntoTrue(benchmark::State& state) { run_all(state, {"/bin/true"}, ENTRIES, 0); }
void BM_LeastProgramRun(benchmark::State& state) { run_all(state, {ZV_LEAST_BINARY}, ENTRIES, TRANSCRIPT_MIN); }
void BM_ShellPipelineRun(benchmark::State& state) { run_all(state, through_shell(program), "", TRANSCRIPT_MIN); }
void BM_ShellPipelineIntoTrue(benchmark::State& state) { run_all(state, through_shell("/bin/true"), "", 0); }

// Real time: the work is done in the child processes.
BENCHMARK(BM_ScriptedRun)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_PipeIntoTrue)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_LeastProgramRun)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_ShellPipelineRun)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_ShellPipelineIntoTrue)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(3);

double realTime(const zvbench::Run& run) { return run.GetAdjustedRealTime(); }

// Runs named by their functions alone (the aggregates keep their suffixes), so
// that the figures are found under those names.
class PlainNames : public zvbench::FigureReporter {
 public:
  PlainNames() : FigureReporter(realTime) {}
  void ReportRuns(const std::vector<zvbench::Run>& reports) override {
    std::vector<zvbench::Run> plain = reports;
    for (zvbench::Run& run : plain) {
      run.run_name.min_time.clear();
      run.run_name.repetitions.clear();
      run.run_name.time_type.clear();
    }
    FigureReporter::ReportRuns(plain);
  }
};

void print_ratio(const zvbench::FigureReporter& r, const std::string& ours, const std::string& limit,
                 const std::string& note) {
  double a = 0, b = 0;
  bool medians = false;
  if (r.pair(ours, limit, &a, &b, &medians))
    std::printf("%s %.0f us, %s %.0f us: ratio %.2f%s, %s\n", ours.c_str(), a, limit.c_str(), b, a / b,
                medians ? " (medians)" : "", note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc == 2 && argv[1][0] != '-') {
    char* path = realpath(argv[1], nullptr);  // the runs start in another directory
    if (!path) {
      std::fprintf(stderr, "no program %s\n", argv[1]);
      return 1;
    }
    program = path;
    std::free(path);
    --argc;
  }
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Each run writes its report file into the current directory: a directory of
  // our own keeps them away from the caller's. It lies in TMPDIR (else /tmp), so that
  // the file system's own cost of cutting the report can be told apart (a tmpfs
  // against a disk that discards freed blocks).
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/invar-scripted-XXXXXX";
  const char* dir = mkdtemp(pattern.data());
  if (!dir || chdir(dir) != 0) {
    std::fprintf(stderr, "no temporary directory\n");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  unsetenv("DISPLAY");  // no window, even when started from a desktop
  unsetenv("ZVGFX");
  PlainNames reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  char goal[32];
  std::snprintf(goal, sizeof goal, "goal <= %.1f", GOAL);
  print_ratio(reporter, "BM_ScriptedRun", "BM_PipeIntoTrue", goal);
  print_ratio(reporter, "BM_LeastProgramRun", "BM_PipeIntoTrue", "the floor that start-up sets");
  print_ratio(reporter, "BM_ShellPipelineRun", "BM_ShellPipelineIntoTrue", goal);
  std::remove((std::string(dir) + "/invar.txt").c_str());
  if (chdir("/") != 0 || rmdir(dir) != 0) std::fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
