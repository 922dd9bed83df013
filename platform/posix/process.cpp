#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/native_path.h"
#include "platform/process.h"

extern char** environ;

namespace {

// Starts program with the blank-separated parameters, optionally in another directory.
bool Spawn(const std::wstring& file, const std::wstring& parameters, const std::string* directory, pid_t& pid) {
  std::string program = NativePath(file);
  std::vector<std::string> words{program};
  std::string params = WideToAnsi(parameters);
  for (size_t i = 0; i < params.size();) {
    size_t end = params.find(' ', i);
    if (end == std::string::npos) end = params.size();
    if (end > i) words.push_back(params.substr(i, end - i));
    i = end + 1;
  }
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (directory) posix_spawn_file_actions_addchdir_np(&actions, directory->c_str());
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) errno = rc;
  return rc == 0;
}

}  // namespace

bool RunProgram(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory) {
  if (chdir(NativePath(directory).c_str()) != 0) return false;
  pid_t pid;
  return Spawn(file, parameters, nullptr, pid);
}

int RunAndWait(const std::wstring& program, const std::wstring& arguments, const std::wstring& directory) {
  std::string where = NativePath(directory);
  pid_t pid;
  if (!Spawn(program, arguments, &where, pid)) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool KillProcessesByName(const std::wstring& name) {
  if (name.empty()) return false;
  std::string wanted = WideToAnsi(name);
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  pid_t self = getpid();
  bool ok = true;
  while (dirent* e = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    char target[4096];
    std::string link = std::string("/proc/") + e->d_name + "/exe";
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    std::string exe(target);
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
      exe.resize(exe.size() - deleted.size());
    size_t slash = exe.rfind('/');
    if (exe.substr(slash == std::string::npos ? 0 : slash + 1) != wanted) continue;
    if (kill(static_cast<pid_t>(pid), SIGKILL) != 0 && errno != ESRCH) {
      ok = false;
      break;
    }
  }
  closedir(proc);
  return ok;
}

bool StartHiddenScript(const std::wstring&, const std::wstring&) {
  // Batch scripts only run on Windows.
  errno = ENOEXEC;
  return false;
}

void EndProcessNow(int exitCode) {
  fflush(nullptr);
  _exit(exitCode);
}
