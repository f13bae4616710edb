// A stand-in for avrdude. It records how it was called in <its folder>/call-<pid>
// (working directory, then one argument a line) and plays <its folder>/script,
// one step a line:
//   out HEX    write these bytes to standard output in one write
//   err HEX    the same on standard error
//   await PATH wait until PATH exists
//   exit N     end with exit code N
//   crash      end by a signal
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string folderOf(const std::string &path)
{
    return path.substr(0, path.rfind('/'));
}

void record(const std::string &folder, int argc, char **argv)
{
    const std::string name = folder + "/call-" + std::to_string(getpid());
    {
        std::ofstream out(name + ".part");
        char cwd[4096];
        out << (getcwd(cwd, sizeof cwd) ? cwd : "") << '\n';
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
    }
    std::rename((name + ".part").c_str(), name.c_str());
}

void writeHex(int fd, const std::string &hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        _exit(3);
}

void await(const std::string &path)
{
    while (access(path.c_str(), F_OK) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

int main(int argc, char **argv)
{
    const std::string folder = folderOf(argv[0]);
    record(folder, argc, argv);
    std::ifstream script(folder + "/script");
    std::string line;
    while (std::getline(script, line)) {
        const std::string verb = line.substr(0, line.find(' '));
        const std::string operand = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
        if (verb == "out" || verb == "err")
            writeHex(verb == "out" ? STDOUT_FILENO : STDERR_FILENO, operand);
        else if (verb == "await")
            await(operand);
        else if (verb == "exit")
            return std::stoi(operand);
        else if (verb == "crash")
            raise(SIGKILL);
    }
    return 0;
}
