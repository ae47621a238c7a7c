// tessarvander farm: a render spread over a scheduler's nodes. `farm slurm`
// submits the parts as a Slurm job array and the join as a job that waits
// for them all; `farm status` says where each stands.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "farm/SlurmJobs.h"

namespace tool {
namespace {

const char* kFarmDescription =
    "Spreads a render over a Slurm cluster and follows it.\n\n"
    "  farm slurm --parts N -- render -o OUT [render options]\n"
    "  farm status OUT\n\n"
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
    status = command->add_subcommand("status", "say which parts are done, waiting, running or failed");
    status->add_option("output", statusOutput, "the render's OUT")->required()->type_name("OUT");
    return command;
  }

  int Run() override {
    std::string error;
    if (status->parsed()) {
      FarmState state;
      if (!ReadFarmState(statusOutput, state, error)) return Fail(kExitUsage, error);
      for (const auto& [part, said] : state.parts) std::printf("part %ld: %s\n", part, said.c_str());
      std::printf("join: %s\n", state.join.c_str());
      if (!state.unknown.empty()) return Fail(kExitFailure, state.unknown + "; what is not done is unknown");
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
      std::printf("# %s/parts.sh\n%s\n# %s/join.sh\n%s\n", jobs.Files().work.c_str(), jobs.PartsScript().c_str(),
                  jobs.Files().work.c_str(), jobs.JoinScript().c_str());
      std::printf("# submitted as:\n%s\n%s\n",
                  ShellCommand(jobs.PartsSubmission(jobs.Files().work + "/parts.sh")).c_str(),
                  ShellCommand(jobs.JoinSubmission(jobs.Files().work + "/join.sh", "PARTS_JOB")).c_str());
      return kExitSuccess;
    }
    std::string partsJob, joinJob;
    if (!jobs.Submit(partsJob, joinJob, error)) return Fail(kExitFailure, error);
    std::printf("submitted the parts as job %s and the join as job %s\nlogs: %s/part-K.log and %s\n"
                "follow it with: tessarvander farm status %s\n",
                partsJob.c_str(), joinJob.c_str(), jobs.Files().work.c_str(), jobs.Files().JoinLog().c_str(),
                jobs.Files().output.c_str());
    return kExitSuccess;
  }

 private:
  CLI::App* slurm = nullptr;
  CLI::App* status = nullptr;
  SlurmRequest request;
  bool dryRun = false;
  std::string onlyText;
  std::string statusOutput;
};

}  // namespace

std::unique_ptr<Command> MakeFarmCommand() { return std::make_unique<FarmCommand>(); }

}  // namespace tool
