// tcmu-sim: the simulated drives of a set-up file (docs/simulator.md) behind
// the Linux kernel's own SCSI target, so that a program reaches them through
// the real sr and sg drivers, the kernel's SG_IO command filter and its
// exclusive-open rules (docs/kernel.md). For each drive, in file order, it
// makes a target_core_user device (configfs core/user_H/flashsimN), serves
// its command ring from /dev/uioN (TcmuCarrier), and puts it on a tcm_loop
// target at SCSI target N+1, LUN 0; the kernel then scans it and makes
// /dev/srX and /dev/sgY. It prints "ready" when all are there, serves until
// SIGTERM or SIGINT, removes everything it made and writes the flash files
// and the log. Needs root and the modules target_core_user and tcm_loop.
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/aspi/SimAspiConfig.h"
#include "sim/tcmu/TcmuCarrier.h"

namespace {

const std::string Target = "/sys/kernel/config/target";
// Loop-back WWNs: the target's and, one per drive, the initiator's (nexus).
const std::string TargetWwn = "naa.5001405f1a500000";

struct Device {
    std::string core;  // configfs folder of the backing device
    std::string tpg;   // the tcm_loop target portal group
    int fd = -1;
    uint8_t* map = nullptr;
    size_t size = 0;
    std::unique_ptr<TcmuCarrier> carrier;
};

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    if (out) return true;
    std::fprintf(stderr, "tcmu-sim: cannot write \"%s\" to %s: %s\n", text.c_str(), path.c_str(),
                 std::strerror(errno));
    return false;
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    std::fprintf(stderr, "tcmu-sim: mkdir %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

// The uio node whose name the kernel gave this device ("tcm-user/HBA/NAME/CONFIG").
std::string FindUio(const std::string& suffix) {
    DIR* dir = opendir("/sys/class/uio");
    std::string found;
    while (dir != nullptr && found.empty()) {
        dirent* e = readdir(dir);
        if (e == nullptr) break;
        const std::string name = ReadLine(std::string("/sys/class/uio/") + e->d_name + "/name");
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found = e->d_name;
    }
    if (dir != nullptr) closedir(dir);
    return found;
}

bool MapRing(Device& device, const std::string& uio, SimulatedDrive& drive) {
    device.size =
        std::strtoull(ReadLine("/sys/class/uio/" + uio + "/maps/map0/size").c_str(), nullptr, 0);
    device.fd = open(("/dev/" + uio).c_str(), O_RDWR | O_CLOEXEC);
    if (device.fd < 0 || device.size == 0) return false;
    void* map = mmap(nullptr, device.size, PROT_READ | PROT_WRITE, MAP_SHARED, device.fd, 0);
    if (map == MAP_FAILED) return false;
    device.map = static_cast<uint8_t*>(map);
    device.carrier = std::make_unique<TcmuCarrier>(drive, device.map, device.size);
    return true;
}

// Until stop: every ring served whenever the kernel signals one (or every
// 100 ms), the kernel told of the answers, the flash saved after a commit.
void Serve(std::vector<Device>& devices, SimAspiRig& rig, const std::atomic<bool>& stop) {
    std::vector<pollfd> fds;
    for (const Device& d : devices) fds.push_back(pollfd{d.fd, POLLIN, 0});
    while (!stop.load()) {
        poll(fds.data(), fds.size(), 100);
        for (size_t i = 0; i < devices.size(); ++i) {
            uint32_t count;
            if (fds[i].revents & POLLIN) static_cast<void>(read(fds[i].fd, &count, sizeof count));
            if (devices[i].carrier->ServeRing() != 0) {
                count = 0;
                static_cast<void>(write(fds[i].fd, &count, sizeof count));
                rig.AfterCommand(rig.Drive(i));
            }
        }
    }
}

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: tcmu-sim --config FILE [--hba N]\n"
                 "Presents the simulated drives of FILE through the kernel's SCSI target\n"
                 "(target_core_user, tcm_loop): each becomes a /dev/srN and /dev/sgN.\n"
                 "Prints \"ready\" when they are there; SIGTERM or SIGINT removes them and\n"
                 "saves the flash files and the log.\n"
                 "  --config FILE  the simulator's set-up (default: $FLASH_SIM_CONFIG)\n"
                 "  --hba N        configfs folder core/user_N (default 0)\n"
                 "Exit status: 0 done, 1 the set-up or the kernel failed, 2 bad usage.\n");
}

}  // namespace

int main(int argc, char** argv) {
    const char* config = std::getenv("FLASH_SIM_CONFIG");
    std::string hba = "0";
    const option options[] = {{"config", required_argument, nullptr, 'c'},
                              {"hba", required_argument, nullptr, 'b'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        if (c == 'c') config = optarg;
        if (c == 'b') hba = optarg;
        if (c == 'h') return Usage(stdout), 0;
        if (c == '?') return Usage(stderr), 2;
    }
    if (config == nullptr || optind != argc) return Usage(stderr), 2;

    SimAspiSetup setup;
    std::vector<uint8_t> text;
    std::string error;
    if (!ReadWholeFile(config, text) ||
        !ParseSimAspiSetup(std::string(text.begin(), text.end()), setup, error)) {
        std::fprintf(stderr, "tcmu-sim: %s: %s\n", config,
                     error.empty() ? "cannot read" : error.c_str());
        return 1;
    }
    SimAspiRig rig(setup);
    if (!rig.LoadFlashFiles(error)) return std::fprintf(stderr, "tcmu-sim: %s\n", error.c_str()), 1;

    // The signals are taken by sigwait below, in no other thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const std::string user = Target + "/core/user_" + hba;
    const std::string loop = Target + "/loopback/" + TargetWwn;
    std::vector<Device> devices(rig.DriveCount());
    bool ok = MakeFolder(user);
    for (size_t i = 0; ok && i < devices.size(); ++i) {
        const std::string name = "flashsim" + std::to_string(i);
        devices[i].core = user + "/" + name;
        ok = MakeFolder(devices[i].core) &&
             WriteText(devices[i].core + "/control",
                       "dev_config=flashsim/" + std::to_string(i) + ",dev_size=1048576") &&
             WriteText(devices[i].core + "/enable", "1");
        const std::string uio = ok ? FindUio("/" + name + "/flashsim/" + std::to_string(i)) : "";
        ok = ok && !uio.empty() && MapRing(devices[i], uio, rig.Drive(i));
        if (!ok) std::fprintf(stderr, "tcmu-sim: drive %zu: no command ring\n", i);
    }
    std::atomic<bool> stop{false};
    std::thread server;
    if (ok) server = std::thread(Serve, std::ref(devices), std::ref(rig), std::cref(stop));
    // The nexus before the LUN: a LUN linked without one fails its scan
    // ("I_T Nexus does not exist"). The link scans the LUN at once, and the
    // scan's INQUIRY is answered by the server thread.
    ok = ok && MakeFolder(Target + "/loopback") && MakeFolder(loop);
    for (size_t i = 0; ok && i < devices.size(); ++i) {
        char nexus[32];
        std::snprintf(nexus, sizeof nexus, "naa.5001405f1a5%05zx", i + 1);
        devices[i].tpg = loop + "/tpgt_" + std::to_string(i + 1);
        ok = MakeFolder(devices[i].tpg) && WriteText(devices[i].tpg + "/nexus", nexus) &&
             MakeFolder(devices[i].tpg + "/lun/lun_0");
        if (ok &&
            symlink(devices[i].core.c_str(), (devices[i].tpg + "/lun/lun_0/drive").c_str()) != 0) {
            std::fprintf(stderr, "tcmu-sim: drive %zu: LUN link: %s\n", i, std::strerror(errno));
            ok = false;
        }
    }
    if (ok) {
        std::printf("ready\n");
        std::fflush(stdout);
        int signal;
        sigwait(&signals, &signal);
    }

    // Everything made, in reverse; what was not made fails quietly.
    for (Device& d : devices) {
        if (d.tpg.empty()) continue;
        unlink((d.tpg + "/lun/lun_0/drive").c_str());
        rmdir((d.tpg + "/lun/lun_0").c_str());
        std::ofstream(d.tpg + "/nexus") << "NULL";
        rmdir(d.tpg.c_str());
    }
    rmdir(loop.c_str());
    rmdir((Target + "/loopback").c_str());
    stop = true;
    if (server.joinable()) server.join();
    std::string preamble =
        "kernel target: commands the carrier answered as a drive without a disc\n";
    for (size_t i = 0; i < devices.size(); ++i) {
        Device& d = devices[i];
        if (d.carrier)
            preamble += "drive " + std::to_string(i) + ":\n" + d.carrier->KernelCommandText();
        if (d.map != nullptr) munmap(d.map, d.size);
        if (d.fd >= 0) close(d.fd);
        if (!d.core.empty()) rmdir(d.core.c_str());
    }
    rmdir(user.c_str());
    rig.SaveAll(preamble + "\n");
    return ok ? 0 : 1;
}
