// Stands in for avrdude in the tests, on Linux and on Windows alike. It records
// how it was started in TOOL.call, then plays TOOL.script, where TOOL is its own
// path. The record: its working folder, whether it ends with the program that
// started it (Linux: a parent-death SIGKILL; Windows: a job), then each argument
// as the system handed it over, in brackets.
//
// The script, a step a line, its argument in hexadecimal:
//   o BYTES   write to standard output through the C runtime, in text mode as
//             avrdude.exe does, so that on Windows an LF leaves as CR LF
//   e BYTES   the same on standard error
//   O BYTES   write to standard output as they are (E: standard error)
//   w         wait for a byte on standard input, the test's "read it"
//   s MS      sleep
//   x CODE    exit with this code (the end of the script exits with 0)
//   c         crash
//   d         from here on, deaf to SIGTERM
//   h         hang
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// after windows.h, whose types they use
#include <fcntl.h>
#include <io.h>
#else
#include <sys/prctl.h>
#endif

namespace {

// The test that starts it is in no job, so a job means the window's. Wine reports
// no job's limits: that it kills on close is left to tst_windows.
bool endsWithProgram()
{
#ifdef _WIN32
    BOOL inJob = FALSE;
    return IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) && inJob;
#else
    int signal = 0;
    return prctl(PR_GET_PDEATHSIG, &signal) == 0 && signal == SIGKILL;
#endif
}

void write(FILE *stream, const std::string &bytes, bool raw)
{
#ifdef _WIN32
    const int mode = _setmode(_fileno(stream), raw ? _O_BINARY : _O_TEXT);
#else
    (void)raw;
#endif
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
#ifdef _WIN32
    _setmode(_fileno(stream), mode);
#endif
}

[[noreturn]] void crash()
{
#ifdef _WIN32
    // What Windows reports for an access violation, without Wine's debugger.
    TerminateProcess(GetCurrentProcess(), 0xC0000005);
#endif
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    std::abort();
}

std::string fromHex(const std::string &hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    // On Windows, UTF-8 is its code page, as it is avrdude.exe's (testkit/CMakeLists.txt).
    const std::vector<std::string> given(argv, argv + argc);
    if (FILE *call = std::fopen((given[0] + ".call").c_str(), "wb")) {
        std::fprintf(call, "%s\n%s\n", std::filesystem::current_path().u8string().c_str(),
                     endsWithProgram() ? "ends with the program" : "outlives the program");
        for (size_t i = 1; i < given.size(); i++)
            std::fprintf(call, "[%s] ", given[i].c_str());
        std::fclose(call);
    }
    FILE *script = std::fopen((given[0] + ".script").c_str(), "rb");
    for (char line[65536]; script && std::fgets(line, sizeof line, script);) {
        const std::string step(line);
        const std::string argument = fromHex(step.substr(std::min<size_t>(2, step.size())));
        switch (step[0]) {
        case 'o':
        case 'e':
        case 'O':
        case 'E':
            write(std::tolower(step[0]) == 'o' ? stdout : stderr, argument, std::isupper(step[0]));
            break;
        case 'w':
            std::getchar();
            break;
        case 's':
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argument.c_str())));
            break;
        case 'x':
            return std::atoi(argument.c_str());
        case 'c':
            crash();
        case 'd':
            std::signal(SIGTERM, SIG_IGN);
            break;
        case 'h':
            for (;;)
                std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    return 0;
}
