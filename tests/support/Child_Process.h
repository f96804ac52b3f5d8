// Runs a built program as a process of its own, in a given folder and with the
// time zone pinned to UTC, and captures what it prints.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/Temp_Dir.h"

extern char** environ;

struct Process_Result {
    int Exit_Code = -1;  // 128 + the signal's number when a signal ended it
    std::string Out;
    std::string Err;
};

// `capture` is a folder for the two captured streams.
inline Process_Result Run_Process(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& folder, const std::string& capture) {
    // Everything the child needs is made before the fork: between fork and
    // exec it only opens, duplicates and changes folder.
    std::vector<std::string> texts{program};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment_texts{"TZ=UTC0"};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TZ=", 3) != 0) environment_texts.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& text : environment_texts) envp.push_back(text.data());
    envp.push_back(nullptr);
    const std::string out_path = capture + "/stdout";
    const std::string err_path = capture + "/stderr";

    Process_Result result;
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folder.c_str()) != 0) _exit(127);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return result;
    result.Exit_Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = Read_File(out_path);
    result.Err = Read_File(err_path);
    return result;
}
