#pragma once
// Child processes: the registry programs run as the original platform runs them. A waited run
// polls the child with a zero time-out and lets the caller process its events between polls;
// a started child can be watched without waiting. What the child writes to its standard error
// is kept, so that a failure can be shown to the user.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace klv {

class ProcessRunner {
public:
    struct Result {
        bool started = false;
        bool finished = false;
        int exitCode = -1;     // when it ended normally
        int signal = 0;        // when a signal ended it
        std::string errorText; // its standard error (UTF-8), or why it could not start
        bool succeeded() const { return started && finished && signal == 0 && exitCode == 0; }
    };

    // A started child. Destroyed while the child still runs, it lets it run on and reaps it
    // later, so that no zombie is left behind.
    class Child {
    public:
        Child(Child&& other) noexcept;
        Child& operator=(Child&&) = delete;
        Child(const Child&) = delete;
        ~Child();

        // Looks without waiting; false once the child has ended (result() is then complete).
        bool running();
        const Result& result() const { return result_; }
        pid_t pid() const { return pid_; }

    private:
        friend class ProcessRunner;
        Child() = default;
        void collect(int status);

        pid_t pid_ = -1;
        int errFd_ = -1; // an anonymous file that receives the child's standard error
        Result result_;
    };

    // Splits a parameter text the way the registry programs read theirs: blanks separate,
    // double quotes group and are removed, backslashes are ordinary characters.
    static std::vector<std::string> splitParameters(std::string_view text);

    // Starts `program` in `workingFolder` (the current folder when empty) with the standard
    // input from /dev/null. A program that cannot be started gives a child that has ended,
    // with started == false and the reason in errorText.
    static Child start(const std::filesystem::path& program, const std::vector<std::string>& args,
                       const std::filesystem::path& workingFolder);

    // Waited run: polls the child until it has ended, calling `pump` between polls.
    static Result runWaited(const std::filesystem::path& program,
                            const std::vector<std::string>& args,
                            const std::filesystem::path& workingFolder,
                            const std::function<void()>& pump);
};

} // namespace klv
