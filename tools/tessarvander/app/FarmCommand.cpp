// tessarvander farm: a render spread over a scheduler's nodes. `farm slurm`
// submits the parts as a Slurm job array and the join as a job that waits
// for them all; `farm status` says where each stands (`--watch`: as
// progress bars until it ends); `farm cancel` stops it.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "farm/FarmState.h"
#include "farm/SlurmJobs.h"
#include "sys/Interrupts.h"
#include "sys/Messages.h"
#include "sys/ShellQuote.h"

namespace tool {
namespace {

const char* kFarmDescription =
    "Spreads a render over a Slurm cluster and follows it.\n\n"
    "  farm slurm --parts N -- render -o OUT [render options]\n"
    "  farm status [--watch] OUT\n"
    "  farm cancel OUT\n\n"
    "The parts, their logs and the scripts are written beside OUT, which must be\n"
    "on storage every node shares; the nodes need this program and the plugin at\n"
    "the same paths.";

// This program, by absolute path, for the scripts the nodes run.
std::string ThisProgram() {
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : "tessarvander";
}

std::string CurrentFolder() {
  char path[PATH_MAX] = {};
  return getcwd(path, sizeof path) ? path : ".";
}

class FarmCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("farm", kFarmDescription);
    command->require_subcommand(1);
    slurm = command->add_subcommand("slurm", "submit a render as a job array of parts and a join that waits for them");
    slurm->add_option("--parts", request.parts, "how many parts")->required()->check(Within(1, 100000))->type_name("N");
    slurm->add_option("--partition", request.partition, "the Slurm partition")->type_name("P");
    slurm->add_option("--time", request.time, "the time limit of each job, as sbatch takes it")->type_name("T");
    slurm->add_option("--only", onlyText, "submit these parts again, and a new join: 2 or 2,5")
        ->type_name("K[,K...]");
    slurm->add_flag("--dry-run", dryRun, "print the scripts and the sbatch commands, submit nothing");
    slurm->add_option("render", request.render, "after --: render -o OUT [its options]")->required();
    slurm->footer("example:\n  tessarvander farm slurm --parts 8 --time 2:00:00 -- render -o /shared/clip.mp4 "
                  "--audio /shared/track.wav --size 3840x2160\n  tessarvander farm status /shared/clip.mp4");
    status = command->add_subcommand(
        "status", "say which parts are done, waiting, running or failed, their frames, rate and node, and the ETA");
    status->add_option("output", statusOutput, "the render's OUT")->required()->type_name("OUT");
    status->add_flag("--watch", watch,
                     "redraw every 2 s as progress bars until the join is done or something fails; exits 0 when "
                     "done, 1 when something failed, 3 when the scheduler cannot say");
    cancel = command->add_subcommand("cancel", "cancel the parts not done and the join");
    cancel->add_option("output", statusOutput, "the render's OUT")->required()->type_name("OUT");
    return command;
  }

  int Run() override {
    std::string error;
    if (status->parsed()) return watch ? Watch() : Status();
    if (cancel->parsed()) {
      std::string said;
      if (!CancelFarm(statusOutput, said, error)) return Fail(kExitFailure, error);
      std::printf("%s\n", said.c_str());
      return kExitSuccess;
    }
    for (size_t start = 0; !onlyText.empty() && start <= onlyText.size();) {
      const size_t comma = std::min(onlyText.find(',', start), onlyText.size());
      const std::string part = onlyText.substr(start, comma - start);
      if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
        return Fail(kExitUsage, "farm slurm: --only takes part numbers, as 2 or 2,5");
      request.only.push_back(std::stol(part));
      start = comma + 1;
    }
    request.tool = ThisProgram();
    request.folder = CurrentFolder();
    SlurmJobs jobs;
    if (!jobs.Plan(request, error)) return Fail(kExitUsage, error);
    if (dryRun) {
      const std::string work = Printable(jobs.Files().work, 500);
      std::printf("# %s/parts.sh\n%s\n# %s/join.sh\n%s\n", work.c_str(), jobs.PartsScript().c_str(), work.c_str(),
                  jobs.JoinScript().c_str());
      std::printf("# submitted as:\n%s\n%s\n",
                  ShellCommand(jobs.PartsSubmission(jobs.Files().work + "/parts.sh")).c_str(),
                  ShellCommand(jobs.JoinSubmission(jobs.Files().work + "/join.sh", "PARTS_JOB")).c_str());
      return kExitSuccess;
    }
    std::string partsJob, joinJob;
    if (!jobs.Submit(partsJob, joinJob, error)) return Fail(kExitFailure, error);
    std::printf("submitted the parts as job %s and the join as job %s\nlogs: %s/part-K.log and %s\n"
                "follow it with: tessarvander farm status %s\n",
                partsJob.c_str(), joinJob.c_str(), Printable(jobs.Files().work, 500).c_str(),
                Printable(jobs.Files().JoinLog(), 500).c_str(), ShellCommand({jobs.Files().output}).c_str());
    return kExitSuccess;
  }

 private:
  int Status() {
    FarmState state;
    std::string error;
    if (!ReadFarmState(statusOutput, state, error)) return Fail(kExitUsage, error);
    for (const PartState& part : state.parts) std::printf("part %ld: %s\n", part.part, part.Text().c_str());
    std::printf("join: %s\n", state.JoinText().c_str());
    if (!state.Whole().empty()) std::printf("render: %s\n", state.Whole().c_str());
    if (!state.unknown.empty()) return Fail(kExitFailure, state.unknown + "; what is not done is unknown");
    return kExitSuccess;
  }

  // Redraws every 2 s: on a terminal in place, as bars; else a block each
  // time something changes. Ends with the render, or on Ctrl+C.
  int Watch() {
    const bool terminal = isatty(STDOUT_FILENO);
    std::string last;
    int linesDrawn = 0;
    for (;;) {
      FarmState state;
      std::string error;
      if (!ReadFarmState(statusOutput, state, error)) return Fail(kExitUsage, error);
      std::string block;
      for (const PartState& part : state.parts) block += "part " + std::to_string(part.part) + ": " + part.Text() + "\n";
      block += "join: " + state.JoinText() + "\n";
      if (state.framesTotal > 0) block += Bar(state) + "\n";
      if (!state.unknown.empty()) block += state.unknown + "\n";
      if (terminal) {
        for (int k = 0; k < linesDrawn; ++k) std::printf("\033[1A\033[2K");
        std::printf("%s", block.c_str());
        linesDrawn = static_cast<int>(std::count(block.begin(), block.end(), '\n'));
      } else if (block != last) {
        std::printf("%s\n", block.c_str());
      }
      std::fflush(stdout);
      last = block;
      switch (state.Result()) {
        case FarmState::Outcome::Done: return kExitSuccess;
        case FarmState::Outcome::Failed: return kExitFailure;
        case FarmState::Outcome::Unknown: return kExitUnknown;
        case FarmState::Outcome::Going: break;
      }
      for (int tenth = 0; tenth < 20; ++tenth) {
        if (Interrupted()) return kExitInterrupted;
        usleep(100000);
      }
    }
  }

  // "[#########.........]  45 % of 900 frames, ..."
  static std::string Bar(const FarmState& state) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(kWidth * state.framesDone / std::max(1L, state.framesTotal));
    return "[" + std::string(static_cast<size_t>(std::clamp(filled, 0, kWidth)), '#') +
           std::string(static_cast<size_t>(kWidth - std::clamp(filled, 0, kWidth)), '.') +
           "]  " + state.Whole();
  }

  // The scheduler could not say where the render stands.
  static constexpr int kExitUnknown = 3;

  CLI::App* slurm = nullptr;
  CLI::App* status = nullptr;
  CLI::App* cancel = nullptr;
  bool watch = false;
  SlurmRequest request;
  bool dryRun = false;
  std::string onlyText;
  std::string statusOutput;
};

}  // namespace

std::unique_ptr<Command> MakeFarmCommand() { return std::make_unique<FarmCommand>(); }

}  // namespace tool
