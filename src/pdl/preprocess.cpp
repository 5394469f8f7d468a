// Running the C preprocessor over a PDL file with posix_spawn (no shell involved).
#include "pdl/preprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

extern char** environ;

namespace zm {

namespace {

// Starts argv[0] with stdout on `output`; returns the child's status, or -1
// when the program could not be started.
int spawn_and_wait(std::vector<std::string> args, const std::string& output) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    int rc = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                              O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (rc == 0) rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}

}  // namespace

int run_preprocessor(const std::string& input_name, const std::string& output) {
    // A name starting with "-" would be read as an option.
    std::string input = !input_name.empty() && input_name[0] == '-' ? "./" + input_name : input_name;
    int status = spawn_and_wait({"gcc", "-x", "c", "-E", "-undef", "-nostdinc", input}, output);
    if (status == -1 || status == 127) {
        // gcc missing (the spawn itself fails, or the exec in the child does): try cpp.
        status = spawn_and_wait({"cpp", "-undef", "-nostdinc", input}, output);
    }
    return status < 0 ? 127 : status;
}

}  // namespace zm
