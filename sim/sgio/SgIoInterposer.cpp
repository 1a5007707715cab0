// libsgiosim.so: simulated Linux device nodes for a real, unchanged program.
// Preloaded (LD_PRELOAD), it answers the /dev/srN and /dev/sgN nodes and the
// ioctls on them from the simulated drives of the set-up file named by
// FLASH_SIM_CONFIG (docs/simulator.md), and opens the paths that the set-up
// maps (map-path) as their stand-ins. Every other call goes on to the next
// definition (libc's, or a sanitizer's in front of it).
//
// What is taken over: open, open64, openat, openat64 and the checked forms
// that _FORTIFY_SOURCE builds call (__open_2, __open64_2, __openat_2,
// __openat64_2), ioctl and close. A simulated node's descriptor is a real
// one (of /dev/null), so it can never collide with a descriptor the program
// gets elsewhere. The program is expected to make these calls from one
// thread, as the console program does.
//
// The set-up's kill-after and signal-after send the process a signal right
// after a drive command or a file step: an open that may create a file,
// write, fsync, rename, renameat2, linkat, unlink, unlinkat (the calls the
// program makes to write its files; they are carried out, then counted).
// With trace, each command's line, each file step and the close of a FIFO
// (logind's inhibitor is one) go to that file as they happen.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "sim/aspi/SimAspiConfig.h"
#include "sim/sgio/SimSgIoCarrier.h"

namespace {

struct Simulation {
    SimAspiSetup setup;
    std::unique_ptr<SimAspiRig> rig;
    SimSgIoCarrier carrier;
    std::map<int, int> handles;       // real descriptor -> carrier's descriptor
    std::vector<size_t> loggedChars;  // of each drive's log, counted so far
    int trace = -1;
};

Simulation* Sim = nullptr;
bool SetUpTried = false;

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using CloseFunction = int (*)(int);
using IoctlFunction = int (*)(int, unsigned long, ...);

void Complain(const std::string& what) {
    std::fprintf(stderr, "sgio simulator: %s\n", what.c_str());
}

// Builds the simulation on first use. With a set-up that cannot be read the
// simulation still owns the node names, and has no nodes: a test must never
// reach a real drive.
Simulation* SetUp() {
    if (SetUpTried) return Sim;
    SetUpTried = true;
    const char* path = std::getenv("FLASH_SIM_CONFIG");
    if (path == nullptr || *path == '\0') return nullptr;
    auto sim = std::make_unique<Simulation>();
    std::vector<uint8_t> text;
    std::string error;
    if (!ReadWholeFile(path, text)) {
        Complain(std::string("cannot read ") + path);
    } else if (!ParseSimAspiSetup(std::string(text.begin(), text.end()), sim->setup, error)) {
        Complain(error);
        sim->setup = SimAspiSetup();
    }
    sim->rig = std::make_unique<SimAspiRig>(sim->setup);
    if (!sim->rig->LoadFlashFiles(error)) Complain(error);
    SimAspiRig& rig = *sim->rig;
    for (size_t i = 0; i < rig.DriveCount(); ++i) {
        for (const SimNodeSetup& node : rig.DriveSetup(i).nodes) {
            sim->carrier.AddNode(node.path, rig.Drive(i), rig.DriveAdapter(i),
                                 rig.DriveSetup(i).target, {node.busy, node.denied});
        }
    }
    sim->carrier.SetRawIo(sim->setup.rawIo);
    sim->carrier.SetAfterCommand([&rig](SimulatedDrive& drive) { rig.AfterCommand(drive); });
    sim->loggedChars.assign(rig.DriveCount(), 0);
    if (!sim->setup.traceFile.empty()) {
        sim->trace = Next<OpenFunction>("open")(sim->setup.traceFile.c_str(),
                                                O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    // Kept until the process ends; the flash and the log are saved then.
    Sim = sim.release();
    return Sim;
}

void Trace(const std::string& line) {
    if (Sim == nullptr || Sim->trace < 0) return;
    using WriteFunction = ssize_t (*)(int, const void*, size_t);
    static WriteFunction realWrite = Next<WriteFunction>("write");
    const std::string text = line + "\n";
    realWrite(Sim->trace, text.data(), text.size());
}

// One more drive command or file step: traced, then the process gets what
// the set-up sends after it (SIGKILL ends it at once; a signal the program
// holds stays pending).
void Step(bool fileStep, const std::string& line) {
    if (SetUp() == nullptr) return;
    Trace(line);
    const int signal = NextProcessEvent(Sim->setup.processEvents, fileStep, line);
    if (signal == 0) return;
    Trace("signal " + std::to_string(signal) + " sent");
    std::fprintf(stderr, "sgio simulator: signal %d after %s\n", signal, line.c_str());
    ::kill(::getpid(), signal);
}

// After an SG_IO: the drives' new log lines, one step each.
void AfterCommand() {
    for (size_t i = 0; i < Sim->rig->DriveCount(); ++i) {
        const std::string text = Sim->rig->Drive(i).LogText();
        size_t& start = Sim->loggedChars[i];
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            Step(false, text.substr(start, end - start));
    }
}

// /dev/sr<digits> and /dev/sg<digits>: the names the simulation owns.
bool IsNodeName(const char* path) {
    if (std::strncmp(path, "/dev/sr", 7) != 0 && std::strncmp(path, "/dev/sg", 7) != 0)
        return false;
    const char* digits = path + 7;
    if (*digits == '\0') return false;
    for (; *digits != '\0'; ++digits)
        if (*digits < '0' || *digits > '9') return false;
    return true;
}

// The stand-in for a mapped path, or null.
const char* MappedPath(const char* path) {
    if (Sim == nullptr) return nullptr;
    for (const auto& map : Sim->setup.pathMaps)
        if (map.first == path) return map.second.c_str();
    return nullptr;
}

// The common road of every open: -2 means "not ours, call the next one".
int OpenNode(const char* path, int flags) {
    if (path == nullptr || !IsNodeName(path) || SetUp() == nullptr) return -2;
    const int handle = Sim->carrier.Open(path, flags);
    if (handle < 0) {
        errno = -handle;
        return -1;
    }
    static OpenFunction realOpen = Next<OpenFunction>("open");
    const int fd = realOpen("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0) {
        Sim->carrier.Close(handle);
        return -1;
    }
    Sim->handles[fd] = handle;
    return fd;
}

mode_t ModeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
}

// A call that may create a file is a file step.
int Created(int result, const char* path, int flags) {
    const int error = errno;
    if ((flags & O_CREAT) != 0) Step(true, std::string("create ") + (path ? path : ""));
    errno = error;
    return result;
}

int OpenThrough(const char* name, const char* path, int flags, mode_t mode) {
    const int node = OpenNode(path, flags);
    if (node != -2) return node;
    SetUp();
    const char* mapped = path != nullptr ? MappedPath(path) : nullptr;
    return Created(Next<OpenFunction>(name)(mapped != nullptr ? mapped : path, flags, mode), path,
                   flags);
}

int OpenAtThrough(const char* name, int dirfd, const char* path, int flags, mode_t mode) {
    const int node = OpenNode(path, flags);
    if (node != -2) return node;
    SetUp();
    const char* mapped = path != nullptr ? MappedPath(path) : nullptr;
    return Created(
        Next<OpenAtFunction>(name)(dirfd, mapped != nullptr ? mapped : path, flags, mode), path,
        flags);
}

// Carries out a file call, then counts it as a step with this line.
template <typename Result, typename Call>
Result FileStep(const std::string& line, Call call) {
    const Result result = call();
    const int error = errno;
    Step(true, line);
    errno = error;
    return result;
}

// At exit: the flash of every drive with a save file, and the log.
__attribute__((destructor)) void SaveAtExit() {
    if (Sim == nullptr) return;
    Sim->rig->SaveAll("device nodes:\n" + Sim->carrier.EventText() + "\n");
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenThrough("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenThrough("open64", path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenAtThrough("openat", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenAtThrough("openat64", dirfd, path, flags, mode);
}

// The checked forms take no mode: they are what a fortified open without
// O_CREAT becomes.
int __open_2(const char* path, int flags) {
    return OpenThrough("open", path, flags, 0);
}
int __open64_2(const char* path, int flags) {
    return OpenThrough("open64", path, flags, 0);
}
int __openat_2(int dirfd, const char* path, int flags) {
    return OpenAtThrough("openat", dirfd, path, flags, 0);
}
int __openat64_2(int dirfd, const char* path, int flags) {
    return OpenAtThrough("openat64", dirfd, path, flags, 0);
}

int close(int fd) {
    static CloseFunction realClose = Next<CloseFunction>("close");
    if (Sim != nullptr) {
        auto found = Sim->handles.find(fd);
        if (found != Sim->handles.end()) {
            Sim->carrier.Close(found->second);
            Sim->handles.erase(found);
        }
        struct stat info;
        if (Sim->trace >= 0 && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode))
            Trace("close of a FIFO");
    }
    return realClose(fd);
}

ssize_t write(int fd, const void* data, size_t length) {
    using Function = ssize_t (*)(int, const void*, size_t);
    static Function real = Next<Function>("write");
    return FileStep<ssize_t>("write " + std::to_string(length) + " bytes",
                             [&] { return real(fd, data, length); });
}

int fsync(int fd) {
    static auto real = Next<int (*)(int)>("fsync");
    return FileStep<int>("fsync", [&] { return real(fd); });
}

int rename(const char* from, const char* to) {
    static auto real = Next<int (*)(const char*, const char*)>("rename");
    return FileStep<int>(std::string("rename ") + from + " " + to, [&] { return real(from, to); });
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) {
    static auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return FileStep<int>(std::string("renameat2 ") + from + " " + to,
                         [&] { return real(fromFolder, from, toFolder, to, flags); });
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    static auto real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
    return FileStep<int>(std::string("linkat ") + from + " " + to,
                         [&] { return real(fromFolder, from, toFolder, to, flags); });
}

int unlink(const char* path) {
    static auto real = Next<int (*)(const char*)>("unlink");
    return FileStep<int>(std::string("unlink ") + path, [&] { return real(path); });
}

int unlinkat(int folder, const char* path, int flags) {
    static auto real = Next<int (*)(int, const char*, int)>("unlinkat");
    return FileStep<int>(std::string("unlinkat ") + path,
                         [&] { return real(folder, path, flags); });
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (Sim != nullptr) {
        auto found = Sim->handles.find(fd);
        if (found != Sim->handles.end()) {
            const int error = Sim->carrier.Ioctl(found->second, request, argument);
            AfterCommand();
            if (error == 0) return 0;
            errno = error;
            return -1;
        }
    }
    static IoctlFunction realIoctl = Next<IoctlFunction>("ioctl");
    return realIoctl(fd, request, argument);
}

}  // extern "C"
